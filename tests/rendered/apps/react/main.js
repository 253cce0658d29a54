import { createElement as h, useEffect, useState } from 'react';
import { createRoot } from 'react-dom/client';

function Orders() {
  const [items, setItems] = useState(null);
  useEffect(() => {
    fetch('/api/items').then((r) => r.json()).then(setItems);
  }, []);
  if (!items) return h('p', null, 'Loading…');
  return h('main', null,
    h('h1', null, 'Orders, built by React'),
    items.map((item) => h('div', { key: item.id, className: item.stock ? 'item' : 'item empty' },
      h('span', null, item.name), h('span', null, item.stock + ' in stock'))),
    h('p', { className: 'total' },
      'In all: ' + items.reduce((n, item) => n + item.stock, 0)));
}

createRoot(document.getElementById('app')).render(h(Orders));
