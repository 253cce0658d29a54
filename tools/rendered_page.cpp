#include "rendered_page.h"

#ifndef _WIN32
#  include <unistd.h>

#  include <chrono>
#  include <thread>

#  include "browser_posix.h"
#  include "devtools.h"
#  include "json.h"
#endif

namespace qmsave {

#ifdef _WIN32

bool CanRender() { return false; }

bool RenderPage(const std::string&, uint32_t, bool, bool (*)(), RenderedPage*, std::string* why) {
    *why = "this build of qmsave cannot start a browser";
    return false;
}

#else

namespace {

using pagesnap::DevToolsClient;
using pagesnap::JsonQuote;
using pagesnap::JsonValue;
using pagesnap::Now;
using pagesnap::Tick;

// From the document's first moment on: the changes of the document, and the requests its
// scripts have open (fetch and XMLHttpRequest) with the time each was made.
constexpr char kWatchPage[] = R"js(
window.__qmChanges = 0;
window.__qmOpen = new Map();
new MutationObserver(() => { window.__qmChanges++; })
  .observe(document, {subtree: true, childList: true, attributes: true, characterData: true});
(() => {
  let next = 0;
  const open = () => { const id = next++; window.__qmOpen.set(id, performance.now()); return id; };
  const done = (id) => window.__qmOpen.delete(id);
  const fetch = window.fetch;
  window.fetch = function (...args) {
    const id = open();
    const answer = fetch.apply(this, args);
    answer.then(() => done(id), () => done(id));
    return answer;
  };
  const send = XMLHttpRequest.prototype.send;
  XMLHttpRequest.prototype.send = function (...args) {
    const id = open();
    this.addEventListener('loadend', () => done(id));
    return send.apply(this, args);
  };
})();
)js";

// Where the page stands: [loaded, requests done, changes of the document, requests open for
// less than 5 s]. The blank page the browser opens with is not the page; a request open
// longer (a long poll, a stream) does not keep the page from being done.
constexpr char kProbe[] =
    "JSON.stringify([document.readyState === 'complete' && location.href !== 'about:blank', "
    "performance.getEntriesByType('resource').length, window.__qmChanges || 0, "
    "[...(window.__qmOpen || new Map()).values()].filter((t) => performance.now() - t < 5000)"
    ".length])";

// The live document as HTML. `keep` keeps scripts, handlers and javascript: addresses.
constexpr char kWriteDocument[] = R"js(((keep) => {
  const empty = new Set(['area', 'base', 'br', 'col', 'embed', 'hr', 'img', 'input', 'link',
    'meta', 'source', 'track', 'wbr']);
  const rawText = new Set(['style', 'script', 'xmp', 'iframe', 'noembed', 'noframes', 'noscript']);
  const text = (s) => s.replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;');
  const quoted = (s) => s.replace(/&/g, '&amp;').replace(/"/g, '&quot;');
  const rules = (sheet) => { try { return [...sheet.cssRules].map((r) => r.cssText).join('\n'); }
                             catch (e) { return null; } };
  const sheets = (list) => [...(list || [])].map((s) => '<style>' + (rules(s) || '') + '</style>').join('');
  function attributes(el, values) {
    for (const a of el.attributes) {
      const n = a.name.toLowerCase();
      if (!keep && (n.startsWith('on') || /^\s*javascript:/i.test(a.value))) continue;
      // A copy read from disk loads its items as files: a CORS request for one fails, and
      // a rewritten item no longer has the digest the page named.
      if (n === 'crossorigin' || n === 'integrity') continue;
      values.set(a.name, a.value);
    }
    if (el instanceof HTMLInputElement) {
      if (el.type === 'checkbox' || el.type === 'radio') {
        if (el.checked) values.set('checked', ''); else values.delete('checked');
      } else if (el.type !== 'file' && el.type !== 'password') {
        values.set('value', el.value);
      }
    } else if (el instanceof HTMLOptionElement) {
      if (el.selected) values.set('selected', ''); else values.delete('selected');
    } else if (el instanceof HTMLImageElement && el.currentSrc && el.hasAttribute('srcset')) {
      values.set('src', el.currentSrc);
    }
    let out = '';
    for (const [n, v] of values) out += ' ' + n + '="' + quoted(v) + '"';
    return out;
  }
  function children(parent) {
    let out = '';
    for (const c of parent.childNodes) out += node(c);
    return out;
  }
  function node(n) {
    if (n.nodeType === Node.TEXT_NODE)
      return n.parentNode && rawText.has(n.parentNode.localName) ? n.data : text(n.data);
    if (n.nodeType === Node.COMMENT_NODE) return '<!--' + n.data + '-->';
    if (n.nodeType !== Node.ELEMENT_NODE) return '';
    const name = n.localName;
    if (name === 'script' && !keep) return '';
    if (name === 'canvas') {
      try {
        const values = new Map([['src', n.toDataURL('image/png')]]);
        return '<img' + attributes(n, values) + '>';
      } catch (e) { /* a canvas drawn from another site's pictures: left empty */ }
    }
    let out = '<' + name + attributes(n, new Map()) + '>';
    if (empty.has(name)) return out;
    const shadow = n.shadowRoot;
    if (shadow)
      out += '<template shadowrootmode="' + shadow.mode + '">' + sheets(shadow.adoptedStyleSheets) +
             children(shadow) + '</template>';
    if (name === 'style' && n.sheet) {
      const r = rules(n.sheet);
      out += r !== null ? r : children(n);
    } else if (name === 'textarea') {
      out += text(n.value);
    } else if (name === 'template') {
      out += children(n.content);
    } else {
      out += children(n);
    }
    if (name === 'head') out += sheets(document.adoptedStyleSheets);
    return out + '</' + name + '>';
  }
  const type = document.doctype ? '<!DOCTYPE ' + document.doctype.name + '>\n' : '';
  const root = document.documentElement;
  return JSON.stringify([location.href, type + (root ? node(root) : '')]);
}))js";

// An expression's string value in the page; false when it threw or gave no string.
bool Evaluate(DevToolsClient& devtools, const std::string& session, const std::string& expression,
              Tick deadline, std::string* value, std::string* why) {
    JsonValue result;
    if (!devtools.Call("Runtime.evaluate",
                       "{\"expression\":" + JsonQuote(expression) + ",\"returnByValue\":true}",
                       session, deadline, &result, why))
        return false;
    const JsonValue* v = result.Path({"result", "value"});
    if (v == nullptr || !v->IsString()) {
        const JsonValue* error = result.Path({"exceptionDetails", "exception", "description"});
        *why = "the page did not answer" + (error ? ": " + error->AsString() : std::string());
        return false;
    }
    *value = v->AsString();
    return true;
}

// Waits until the page has loaded, has had no request open or done for 500 ms and its document
// has not changed for 300 ms, or until `limit`; what ended the wait.
std::string WaitUntilDone(DevToolsClient& devtools, const std::string& session, Tick limit,
                          bool (*stopped)()) {
    Tick requestsSince = Now(), changesSince = Now();
    double requests = -1, changes = -1;
    for (;;) {
        std::string value, ignored;
        JsonValue probe;
        const Tick now = Now();
        if (Evaluate(devtools, session, kProbe, limit, &value, &ignored) &&
            pagesnap::ParseJson(value, &probe) && probe.Items().size() == 4) {
            const auto& items = probe.Items();
            if (items[1].AsNumber() != requests)
                requests = items[1].AsNumber(), requestsSince = now;
            if (items[3].AsNumber() > 0) requestsSince = now;
            if (items[2].AsNumber() != changes) changes = items[2].AsNumber(), changesSince = now;
            if (items[0].AsBool() && now - requestsSince >= 500 && now - changesSince >= 300)
                return "quiet";
        }
        if (Now() >= limit || stopped()) return "wait limit";
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

// Makes the viewport as tall as the page (up to the image command's 16384 pixels) and scrolls
// to its end, so that what loads as it comes into view loads, until the page stops growing or
// after a bounded number of steps; then back to the top. What ended the last wait.
std::string ShowWhole(DevToolsClient& devtools, const std::string& session, Tick limit,
                      bool (*stopped)()) {
    constexpr int kMostSteps = 8;
    constexpr long kTallest = 16384;
    std::string doneBy = "quiet", value, why;
    JsonValue ignored;
    long height = 0;
    for (int step = 0; step < kMostSteps; ++step) {
        if (!Evaluate(devtools, session,
                      "JSON.stringify([innerWidth, document.documentElement.scrollHeight])", limit,
                      &value, &why))
            break;
        JsonValue size;
        if (!pagesnap::ParseJson(value, &size) || size.Items().size() != 2) break;
        const long grown = static_cast<long>(size.Items()[1].AsNumber());
        if (step > 0 && grown <= height) break;
        height = grown;
        const std::string metrics =
            "{\"width\":" + std::to_string(static_cast<long>(size.Items()[0].AsNumber())) +
            ",\"height\":" + std::to_string(std::max(1L, std::min(height, kTallest))) +
            ",\"deviceScaleFactor\":1,\"mobile\":false}";
        if (!devtools.Call("Emulation.setDeviceMetricsOverride", metrics, session, limit, &ignored,
                           &why) ||
            !Evaluate(devtools, session,
                      "window.scrollTo(0, document.documentElement.scrollHeight); ''", limit,
                      &value, &why))
            break;
        doneBy = WaitUntilDone(devtools, session, limit, stopped);
        if (doneBy != "quiet") break;
    }
    Evaluate(devtools, session, "window.scrollTo(0, 0); ''", limit, &value, &why);
    return doneBy;
}

}  // namespace

bool CanRender() { return access(pagesnap::kSystemChromium, X_OK) == 0; }

bool RenderPage(const std::string& url, uint32_t waitLimitMs, bool keepScripts, bool (*stopped)(),
                RenderedPage* page, std::string* why) {
    // Starting the browser and writing the document out have time of their own; the limit
    // counts from the page's loading on.
    const Tick setUp = Now() + 30000;
    pagesnap::PosixBrowser browser;
    int port = 0;
    std::string path;
    if (!browser.Start(pagesnap::kSystemChromium, why) ||
        !browser.WaitForEndpoint(setUp, &port, &path, why))
        return false;
    DevToolsClient devtools;
    JsonValue result;
    if (!devtools.Connect(port, path, setUp, why) ||
        !devtools.Call("Target.createTarget", R"({"url":"about:blank"})", "", setUp, &result, why))
        return false;
    const std::string target = result.Find("targetId") ? result.Find("targetId")->AsString() : "";
    if (!devtools.Call("Target.attachToTarget",
                       "{\"targetId\":" + JsonQuote(target) + ",\"flatten\":true}", "", setUp,
                       &result, why))
        return false;
    const std::string session =
        result.Find("sessionId") ? result.Find("sessionId")->AsString() : "";
    if (!devtools.Call("Page.enable", "", session, setUp, &result, why) ||
        !devtools.Call("Page.addScriptToEvaluateOnNewDocument",
                       "{\"source\":" + JsonQuote(kWatchPage) + "}", session, setUp, &result, why))
        return false;
    const Tick limit = Now() + waitLimitMs;
    if (!devtools.Call("Page.navigate", "{\"url\":" + JsonQuote(url) + "}", session, setUp, &result,
                       why))
        return false;
    if (const JsonValue* error = result.Find("errorText")) {
        *why = "the browser could not load the page: " + error->AsString();
        return false;
    }
    if (stopped()) {
        *why = "stopped";
        return false;
    }
    page->doneBy = WaitUntilDone(devtools, session, limit, stopped);
    if (page->doneBy == "quiet") page->doneBy = ShowWhole(devtools, session, limit, stopped);
    std::string written;
    JsonValue parts;
    const Tick writeBy = Now() + 30000;
    if (!Evaluate(devtools, session,
                  std::string(kWriteDocument) + "(" + (keepScripts ? "true" : "false") + ")",
                  writeBy, &written, why))
        return false;
    if (!pagesnap::ParseJson(written, &parts) || parts.Items().size() != 2) {
        *why = "the page's document could not be written out";
        return false;
    }
    page->url = parts.Items()[0].AsString();
    page->html = parts.Items()[1].AsString();
    return true;
}

#endif

}  // namespace qmsave
