#include "single_file_loader.h"

namespace qm {
namespace {

// The names are read against the document's address as the loader starts; a name set later
// is read against the document's address then. Markup a script sets as an element's
// innerHTML that names a file the loader holds is read in a template first, where nothing
// loads, and set with those names replaced; markup added otherwise has its src and href set
// anew once it is in the document.
constexpr char kLoaderStart[] = "<script>(()=>{const m=new Map([";
constexpr char kLoaderEnd[] =
    "].map(([k,v])=>[new URL(k,document.baseURI).href,v]));"
    "const f=v=>{try{const u=new URL(v,document.baseURI),h=u.hash;u.hash='';"
    "const d=m.get(u.href);return d===undefined?v:d+h}catch(e){return v}};"
    "const S=Element.prototype.setAttribute,"
    "E='img,script,link,iframe,frame,source,video,audio,embed,track,input';"
    "const x=e=>{for(const a of['src','href']){const v=e.getAttribute(a);"
    "if(v!==null){const w=f(v);if(w!==v)S.call(e,a,w)}}};"
    "const g=n=>{if(n.nodeType===1&&n.matches(E))x(n);"
    "if(n.querySelectorAll)n.querySelectorAll(E).forEach(x)};"
    "for(const[C,a]of[[HTMLScriptElement,'src'],[HTMLImageElement,'src'],"
    "[HTMLLinkElement,'href'],[HTMLIFrameElement,'src'],[HTMLSourceElement,'src'],"
    "[HTMLMediaElement,'src'],[HTMLEmbedElement,'src']]){"
    "const d=Object.getOwnPropertyDescriptor(C.prototype,a);"
    "if(d&&d.set)Object.defineProperty(C.prototype,a,{get:d.get,"
    "set(v){d.set.call(this,f(String(v)))},configurable:true,enumerable:d.enumerable})}"
    "Element.prototype.setAttribute=function(n,v){"
    "return S.call(this,n,/^(src|href)$/i.test(n)&&this.matches(E)?f(String(v)):v)};"
    "const N=[...m.keys()].map(k=>k.slice(k.lastIndexOf('/')+1)),"
    "I=Object.getOwnPropertyDescriptor(Element.prototype,'innerHTML');"
    "Object.defineProperty(Element.prototype,'innerHTML',{get:I.get,set(v){"
    "if(typeof v==='string'&&N.some(b=>v.includes(b))){"
    "const t=document.createElement('template');I.set.call(t,v);g(t.content);"
    "v=I.get.call(t)}I.set.call(this,v)},configurable:true,enumerable:I.enumerable});"
    "const O=XMLHttpRequest.prototype.open;"
    "XMLHttpRequest.prototype.open=function(x,u,...r){return O.call(this,x,f(String(u)),...r)};"
    "const F=window.fetch;if(F)window.fetch=function(u,...r){"
    "return F.call(this,typeof u==='string'||u instanceof URL?f(String(u)):u,...r)};"
    "new MutationObserver(l=>{for(const r of l)r.addedNodes.forEach(g)})"
    ".observe(document,{childList:true,subtree:true})})()</script>";

}  // namespace

const char* LoaderStart() { return kLoaderStart; }
const char* LoaderEnd() { return kLoaderEnd; }

std::string LoaderName(const std::string& address) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string name;
    for (unsigned char c : address) {
        if (c > ' ' && c < 0x7f && c != '"' && c != '\\' && c != '<' && c != '>') {
            name += static_cast<char>(c);
        } else {
            name += '%';
            name += kHex[c >> 4];
            name += kHex[c & 15];
        }
    }
    return name;
}

}  // namespace qm
