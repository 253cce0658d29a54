// Builds the React and Vue pages with Vite (the versions package-lock.json names) into
// OUT-DIR/react and OUT-DIR/vue, with relative addresses so they are served from any folder.
// Usage: node build_apps.mjs OUT-DIR
import { build } from 'vite';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
const out = resolve(process.argv[2] || 'build');
for (const app of ['react', 'vue']) {
  await build({
    root: join(here, 'apps', app), base: './', logLevel: 'warn', configFile: false,
    define: { 'process.env.NODE_ENV': '"production"' },
    build: { outDir: join(out, app), emptyOutDir: true, minify: true },
  });
}
