import { createApp, h, onMounted, ref } from 'vue';

const Orders = {
  setup() {
    const items = ref(null);
    onMounted(async () => { items.value = await (await fetch('/api/items')).json(); });
    return () => {
      if (!items.value) return h('p', 'Loading…');
      return h('main', [
        h('h1', 'Orders, built by Vue'),
        ...items.value.map((item) => h('div', { key: item.id, class: item.stock ? 'item' : 'item empty' },
          [h('span', item.name), h('span', item.stock + ' in stock')])),
        h('p', { class: 'total' }, 'In all: ' + items.value.reduce((n, item) => n + item.stock, 0)),
      ]);
    };
  },
};

createApp(Orders).mount('#app');
