#include "rendered_page.h"

#include <algorithm>
#include <map>

#include "browser_bodies.h"
#include "devtools.h"
#include "json.h"
#include "render_browser.h"

namespace qmsave {

namespace {

using pagesnap::DevToolsClient;
using pagesnap::JsonQuote;
using pagesnap::JsonValue;
using pagesnap::Now;
using pagesnap::Tick;

// From the document's first moment on: the changes of the document, and the requests its
// scripts have open (fetch and XMLHttpRequest) with the time each was made.
// Closed shadow roots are kept where the document's writer finds them.
constexpr char kWatchPage[] = R"js(
(() => {
  const closed = new WeakMap();
  const attach = Element.prototype.attachShadow;
  Element.prototype.attachShadow = function (init) {
    const root = attach.call(this, init);
    if (init && init.mode === 'closed') closed.set(this, root);
    return root;
  };
  Object.defineProperty(window, '__qmClosedShadow', {value: (el) => closed.get(el)});
})();
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

// The live document as HTML, with the live documents of its frames from its own site:
// [address, html, [[frame address, html]...]]. It is written in UTF-8, and says so. `keep`
// keeps scripts, handlers and javascript: addresses. A frame the page wrote itself (no address
// of its own) goes into its srcdoc.
constexpr char kWriteDocument[] = R"js(((keep) => {
  const empty = new Set(['area', 'base', 'br', 'col', 'embed', 'hr', 'img', 'input', 'link',
    'meta', 'source', 'track', 'wbr']);
  const rawText = new Set(['style', 'script', 'xmp', 'iframe', 'noembed', 'noframes', 'noscript']);
  const text = (s) => s.replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;');
  const quoted = (s) => s.replace(/&/g, '&amp;').replace(/"/g, '&quot;');
  const rules = (sheet) => { try { return [...sheet.cssRules].map((r) => r.cssText).join('\n'); }
                             catch (e) { return null; } };
  const sheets = (list) => [...(list || [])].map((s) => '<style>' + (rules(s) || '') + '</style>').join('');
  const closedShadow = window.__qmClosedShadow || (() => undefined);
  const frames = [];
  function attributes(el, values) {
    for (const a of el.attributes) {
      const n = a.name.toLowerCase();
      if (!keep && (n.startsWith('on') || /^\s*javascript:/i.test(a.value))) continue;
      // A copy read from disk loads its items as files: a CORS request for one fails, and
      // a rewritten item no longer has the digest the page named.
      if (n === 'crossorigin' || n === 'integrity') continue;
      if (!values.has(a.name)) values.set(a.name, a.value);
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
  // A frame's own document, where this page may read it: listed by its address, or written
  // into `values` as srcdoc when it has none.
  function frame(el, values) {
    let inner = null;
    try { inner = el.contentDocument; } catch (e) { return; }
    if (!inner || !inner.documentElement) return;
    const href = inner.location.href;
    if (/^https?:/i.test(href)) frames.push([href, write(inner)]);
    else if (!/^https?:/i.test(el.getAttribute('src') || '')) values.set('srcdoc', write(inner));
  }
  function write(doc) {
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
      if (name === 'meta' && (n.hasAttribute('charset') ||
                              /^content-type$/i.test(n.getAttribute('http-equiv') || '')))
        return '';
      const values = new Map();
      if (name === 'canvas') {
        try {
          values.set('src', n.toDataURL('image/png'));
          return '<img' + attributes(n, values) + '>';
        } catch (e) { values.clear(); /* drawn from another site's pictures: left empty */ }
      }
      if (name === 'iframe' || name === 'frame') frame(n, values);
      let out = '<' + name + attributes(n, values) + '>';
      if (name === 'head') out += '<meta charset="utf-8">';
      if (empty.has(name)) return out;
      const shadow = n.shadowRoot || closedShadow(n);
      if (shadow)
        out += '<template shadowrootmode="' + shadow.mode + '">' +
               sheets(shadow.adoptedStyleSheets) + children(shadow) + '</template>';
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
      if (name === 'head') out += sheets(doc.adoptedStyleSheets);
      return out + '</' + name + '>';
    }
    const type = doc.doctype ? '<!DOCTYPE ' + doc.doctype.name + '>\n' : '';
    const root = doc.documentElement;
    return type + (root ? node(root) : '');
  }
  const html = write(document);
  return JSON.stringify([location.href, html, frames]);
}))js";

// A page of the browser, and what it receives.
struct Tab {
    DevToolsClient& devtools;
    const std::string session;
    BrowserBodies bodies;
};

// An expression's string value in the page; false when it threw or gave no string.
bool Evaluate(Tab& tab, const std::string& expression, Tick deadline, std::string* value,
              std::string* why) {
    JsonValue result;
    if (!tab.devtools.Call("Runtime.evaluate",
                           "{\"expression\":" + JsonQuote(expression) + ",\"returnByValue\":true}",
                           tab.session, deadline, &result, why))
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

// Waits until the page has loaded, has had no request open or done for `quiet` ms and its
// document has not changed for 300 ms, or until `limit`; what ended the wait.
std::string WaitUntilDone(Tab& tab, Tick limit, bool (*stopped)(), Tick quiet = 500) {
    Tick requestsSince = Now(), changesSince = Now();
    double requests = -1, changes = -1;
    for (;;) {
        std::string value, ignored;
        JsonValue probe;
        const Tick now = Now();
        if (Evaluate(tab, kProbe, limit, &value, &ignored) && pagesnap::ParseJson(value, &probe) &&
            probe.Items().size() == 4) {
            const auto& items = probe.Items();
            if (items[1].AsNumber() != requests)
                requests = items[1].AsNumber(), requestsSince = now;
            if (items[3].AsNumber() > 0) requestsSince = now;
            if (items[2].AsNumber() != changes) changes = items[2].AsNumber(), changesSince = now;
            if (items[0].AsBool() && now - requestsSince >= quiet && now - changesSince >= 300)
                return "quiet";
        }
        if (Now() >= limit || stopped()) return "wait limit";
        tab.bodies.Serve(std::min(limit, Now() + 50));
    }
}

// Makes the viewport as tall as the page (up to the image command's 16384 pixels) and scrolls
// to its end, so that what loads as it comes into view loads, until the page stops growing or
// after a bounded number of steps; then back to the top. What ended the last wait.
std::string ShowWhole(Tab& tab, Tick limit, bool (*stopped)()) {
    constexpr int kMostSteps = 8;
    constexpr long kTallest = 16384;
    std::string doneBy = "quiet", value, why;
    JsonValue ignored;
    long height = 0;
    for (int step = 0; step < kMostSteps; ++step) {
        if (!Evaluate(tab, "JSON.stringify([innerWidth, document.documentElement.scrollHeight])",
                      limit, &value, &why))
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
        if (!tab.devtools.Call("Emulation.setDeviceMetricsOverride", metrics, tab.session, limit,
                               &ignored, &why) ||
            !Evaluate(tab, "window.scrollTo(0, document.documentElement.scrollHeight); ''", limit,
                      &value, &why))
            break;
        // The page was done once: what a scroll brings comes at once, or not at all.
        doneBy = WaitUntilDone(tab, limit, stopped, 300);
        if (doneBy != "quiet") break;
    }
    Evaluate(tab, "window.scrollTo(0, 0); ''", limit, &value, &why);
    return doneBy;
}

}  // namespace

bool CanRender(std::string* why) { return RenderBrowser::Available(why); }

PageRenderer::PageRenderer(uint32_t waitLimitMs, bool keepScripts, bool (*stopped)())
    : waitLimitMs_(waitLimitMs),
      keepScripts_(keepScripts),
      stopped_(stopped) {}

PageRenderer::~PageRenderer() {
    if (browser_) browser_->Close();
}

namespace {

// Opens a new page in the browser: its target and the session that drives it.
bool OpenTab(DevToolsClient& devtools, Tick deadline, std::string* target, std::string* session,
             std::string* why) {
    JsonValue result;
    if (!devtools.Call("Target.createTarget", R"({"url":"about:blank"})", "", deadline, &result,
                       why))
        return false;
    *target = result.Find("targetId") ? result.Find("targetId")->AsString() : "";
    if (!devtools.Call("Target.attachToTarget",
                       "{\"targetId\":" + JsonQuote(*target) + ",\"flatten\":true}", "", deadline,
                       &result, why))
        return false;
    *session = result.Find("sessionId") ? result.Find("sessionId")->AsString() : "";
    return true;
}

// Goes to `url`, answering what the browser pauses meanwhile; false when it cannot.
bool Navigate(Tab& tab, const std::string& url, Tick deadline, bool (*stopped)(),
              std::string* why) {
    JsonValue result;
    const int id = tab.devtools.Post("Page.navigate", "{\"url\":" + JsonQuote(url) + "}",
                                     tab.session, deadline, why);
    if (id == 0) return false;
    while (!tab.devtools.Answered(id) && Now() < deadline && !stopped())
        tab.bodies.Serve(std::min(deadline, Now() + 50));
    if (stopped()) {
        *why = "stopped";
        return false;
    }
    if (!tab.devtools.Call(id, deadline, &result, why)) return false;
    if (const JsonValue* error = result.Find("errorText")) {
        *why = "the browser could not load the page: " + error->AsString();
        return false;
    }
    return true;
}

// The last name of `url`'s path, without its query.
std::string LastName(const std::string& url) {
    const std::string path = url.substr(0, url.find('?'));
    return path.substr(path.rfind('/') + 1);
}

// Of `items`, those the page's scripts asked for by names they made: what no text asked for,
// or the text that asked for does not name (markup a script wrote as the page was read).
std::vector<std::string> MadeNames(const std::string& pageUrl, const std::string* fetched,
                                   const std::vector<std::pair<std::string, std::string>>& items,
                                   const std::map<std::string, std::string>& askedBy) {
    const std::string page = pageUrl.substr(0, pageUrl.find('#'));
    std::vector<std::string> made;
    for (const auto& item : items) {
        const auto asked = askedBy.find(item.first);
        if (asked == askedBy.end()) continue;
        const std::string* text = nullptr;
        if (asked->second == page) {
            text = fetched;
        } else {
            const auto by = std::find_if(items.begin(), items.end(), [&](const auto& other) {
                return other.first == asked->second;
            });
            if (by != items.end()) text = &by->second;
        }
        const std::string name = LastName(item.first);
        if (asked->second.empty() || text == nullptr || name.empty() ||
            text->find(name) == std::string::npos)
            made.push_back(item.first);
    }
    return made;
}

// The document written out, its frames' documents kept among the page's items.
bool WriteOut(Tab& tab, bool keepScripts, RenderedPage* page, std::string* why) {
    std::string written;
    JsonValue parts;
    if (!Evaluate(tab, std::string(kWriteDocument) + "(" + (keepScripts ? "true" : "false") + ")",
                  Now() + 30000, &written, why))
        return false;
    if (!pagesnap::ParseJson(written, &parts) || parts.Items().size() != 3) {
        *why = "the page's document could not be written out";
        return false;
    }
    page->url = parts.Items()[0].AsString();
    page->html = parts.Items()[1].AsString();
    for (const JsonValue& frame : parts.Items()[2].Items())
        if (frame.Items().size() == 2)
            tab.bodies.Keep(frame.Items()[0].AsString(), frame.Items()[1].AsString());
    page->items = std::move(tab.bodies.bodies());
    return true;
}

}  // namespace

bool PageRenderer::Render(const std::string& url, const std::string* fetched,
                          const std::string& contentType, RenderedPage* page, std::string* why) {
    return Load(url, fetched, contentType, true, page, why);
}

bool PageRenderer::LoadsOf(const std::string& url, const std::string* fetched,
                           const std::string& contentType, RenderedPage* page, std::string* why) {
    return Load(url, fetched, contentType, false, page, why);
}

bool PageRenderer::Load(const std::string& url, const std::string* fetched,
                        const std::string& contentType, bool writeOut, RenderedPage* page,
                        std::string* why) {
    // Starting the browser and writing the document out have time of their own; the limit
    // counts from the page's loading on.
    const Tick setUp = Now() + 30000;
    if (!browser_ || !RenderBrowser::OutlivesAPage()) {
        if (browser_) browser_->Close();
        browser_.reset();
        auto browser = std::make_unique<RenderBrowser>();
        // Time to start, to load and to write the page out.
        if (!browser->Start(waitLimitMs_ + 120000, why)) return false;
        browser_ = std::move(browser);
    }
    DevToolsClient& devtools = browser_->devtools();
    std::string target, session;
    if (!OpenTab(devtools, setUp, &target, &session, why)) {
        browser_.reset();  // the next page starts another
        return false;
    }
    Tab tab{devtools, session, BrowserBodies(devtools, session)};
    JsonValue result;
    bool done =
        devtools.Call("Page.enable", "", session, setUp, &result, why) &&
        devtools.Call("Page.addScriptToEvaluateOnNewDocument",
                      "{\"source\":" + JsonQuote(kWatchPage) + "}", session, setUp, &result, why) &&
        tab.bodies.Begin(url, fetched, contentType, setUp, why) &&
        (writeOut || tab.bodies.WatchRequests(setUp, why));
    const Tick limit = Now() + waitLimitMs_;
    done = done && Navigate(tab, url, setUp, stopped_, why);
    if (done) {
        page->doneBy = WaitUntilDone(tab, limit, stopped_);
        if (writeOut && page->doneBy == "quiet") page->doneBy = ShowWhole(tab, limit, stopped_);
        done = !stopped_() && (!writeOut || WriteOut(tab, keepScripts_, page, why));
        if (stopped_()) *why = "stopped";
        if (!writeOut) {
            page->items = std::move(tab.bodies.bodies());
            page->scriptLoads = MadeNames(url, fetched, page->items, tab.bodies.askedBy());
        }
    }
    std::string ignored;
    devtools.Call("Target.closeTarget", "{\"targetId\":" + JsonQuote(target) + "}", "",
                  Now() + 5000, &result, &ignored);
    return done;
}

}  // namespace qmsave
