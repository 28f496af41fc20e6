#include "Velto/preview/PreviewScripts.h"

namespace PreviewScripts {

namespace {

void appendUnicodeEscape(QString &out, char16_t unit)
{
    out += QStringLiteral("\\u%1").arg(unsigned(unit), 4, 16, QLatin1Char('0'));
}

// Replaces each parent of a mermaid code element (the pre) by a diagram container holding the
// source as text; runs whether Mermaid is present or not.
const char *const mermaidContainers
    = R"JS(document.querySelectorAll('code.language-mermaid').forEach(function(el){var p=el.parentElement;var d=document.createElement('div');d.className='mermaid';d.textContent=el.textContent;p.parentNode.replaceChild(d,p);});)JS";

} // namespace

void appendJsonStringLiteral(QString &out, QStringView text)
{
    out += u'"';
    const char16_t *data = text.utf16();
    const qsizetype n = text.size();
    qsizetype runStart = 0; // characters that pass unchanged are copied in runs
    auto flush = [&](qsizetype end) {
        if (end > runStart)
            out.append(QStringView(data + runStart, end - runStart));
    };
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = data[i];
        const bool plain = c >= 0x20 && c != u'"' && c != u'\\' && c != 0x2028 && c != 0x2029
            && !QChar::isSurrogate(c);
        if (plain)
            continue;
        if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(data[i + 1])) {
            ++i; // a complete pair passes unchanged
            continue;
        }
        flush(i);
        runStart = i + 1;
        switch (c) {
        case u'"':
            out += QLatin1String("\\\"");
            break;
        case u'\\':
            out += QLatin1String("\\\\");
            break;
        case u'\n':
            out += QLatin1String("\\n");
            break;
        case u'\r':
            out += QLatin1String("\\r");
            break;
        case u'\t':
            out += QLatin1String("\\t");
            break;
        default:
            appendUnicodeEscape(out, c); // other controls, U+2028/9, lone surrogates
            break;
        }
    }
    flush(n);
    out += u'"';
}

QString jsonStringLiteral(const QString &text)
{
    QString out;
    out.reserve(text.size() + text.size() / 16 + 2);
    appendJsonStringLiteral(out, text);
    return out;
}

namespace {

// The delimiters must reach KaTeX as backslash + parenthesis / bracket, hence '\\(' in the
// JavaScript source; a single backslash would make every "(…)" of the text mathematics.
const char *const mathOptions
    = R"JS({delimiters:[{left:'$$',right:'$$',display:true},{left:'$',right:'$',display:false},{left:'\\(',right:'\\)',display:false},{left:'\\[',right:'\\]',display:true}],throwOnError: false})JS";

// Sets the theme's style text. A style element given its own text again makes the page restyle
// every element, which in a long document costs as much as the rest of the update.
const char *const closeStyleText
    = ";\nif(ts.textContent!==veltoThemeCSS){ts.textContent=veltoThemeCSS;}\n";

// The page's drawing runtime, defined once by the set-up script. Blocks are highlighted, typeset
// and drawn only near the visible part of the page (as it scrolls, in tasks that yield to input);
// far from it they go back to their source, so the page's memory stays bounded. A long body is
// put in in slices, the slice holding the editor's line first.
QString runtime()
{
    static const QString js = QString::fromLatin1(
                                  R"JS((function(){if(window.__velto)return;
var V=window.__velto={todo:new Set(),live:new Set(),saved:new Map(),diagrams:[],fill:null,queued:false,firstDrawn:0,keep:800,group:100,blockH:40};
var MATH=)JS")
        + QString::fromLatin1(mathOptions)
        + QString::fromLatin1(
                                  R"JS(,MATHRE=/\$|\\\(|\\\[/;
var port=new MessageChannel();port.port1.onmessage=function(){V.queued=false;V.step();};
V.kick=function(){if(!V.queued){V.queued=true;port.port2.postMessage(0);}};
// The blocks sit in groups of about V.group: a change lays out its own group and the body's few groups, not thousands of blocks. Groups far from the view are not laid out, their height estimated.
// A group is a formatting context of its own, so the margins at its edges do not collapse with the next group's: the last block's goes, the next block's top margin then spaces them as before.
var lazy=document.createElement('style');lazy.id='velto-lazy';lazy.textContent='body>[data-velto-group]{content-visibility:auto;}body>[data-velto-group]:first-child>:first-child{margin-top:0;}body>[data-velto-group]>:last-child{margin-bottom:0;}';document.head.appendChild(lazy);
function isG(n){return !!n&&n.nodeType===1&&n.hasAttribute('data-velto-group');}
V.isGroup=isG;
V.inPage=function(n){var p=n.parentNode,b=document.body;return p===b||(!!p&&p.parentNode===b&&isG(p));};
V.blockOf=function(el){var b=el;while(b&&!V.inPage(b))b=b.parentNode;return isG(b)?null:b;};
// The next and previous elements in block order, across groups.
V.next=function(b){var n=b.nextElementSibling;if(!n&&isG(b.parentNode))n=b.parentNode.nextElementSibling;while(isG(n)&&!n.firstElementChild)n=n.nextElementSibling;return isG(n)?n.firstElementChild:n;};
V.prev=function(b){var n=b.previousElementSibling;if(!n&&isG(b.parentNode))n=b.parentNode.previousElementSibling;while(isG(n)&&!n.lastElementChild)n=n.previousElementSibling;return isG(n)?n.lastElementChild:n;};
V.size=function(g,h){if(!(h>0))h=g.childElementCount*V.blockH;g.style.containIntrinsicSize='auto '+Math.max(1,Math.round(h))+'px';};
// Groups of the given nodes, in a fragment; heights estimated from the nodes' HTML sizes when known.
V.wrap=function(nodes,bytes){var frag=document.createDocumentFragment();for(var i=0;i<nodes.length;i+=V.group){var g=document.createElement('div'),n=0;g.setAttribute('data-velto-group','');
for(var j=i;j<nodes.length&&j<i+V.group;j++){g.appendChild(nodes[j]);if(bytes)n+=bytes[j];}g.__veltoBytes=n;V.size(g,bytes&&V.ratio?n*V.ratio:0);frag.appendChild(g);}return frag;};
V.wrapBody=function(){var b=document.body,nodes=Array.prototype.slice.call(b.childNodes);b.appendChild(V.wrap(nodes));return nodes.filter(function(n){return n.nodeType===1;});};
V.groups=function(){var b=document.body,g=Array.prototype.filter.call(b.children,isG);if(!g.length){var n=document.createElement('div');n.setAttribute('data-velto-group','');b.insertBefore(n,b.firstChild);g=[n];}return g;};
// After a patch: empty groups go, grown ones are split, so a change keeps touching one small group.
V.balance=function(){V.groups().forEach(function(g){if(!g.firstChild){V.lagging.delete(g);g.parentNode.removeChild(g);return;}if(g.childNodes.length<=2*V.group)return;V.sync(g);var all=Array.prototype.slice.call(g.childNodes);
var frag=V.wrap(all.slice(V.group));g.parentNode.insertBefore(frag,g.nextSibling);V.size(g,0);});};
window.addEventListener('scroll',function(){V.moved=true;V.kick();},{passive:true});window.addEventListener('resize',function(){V.moved=true;V.kick();});
V.containers=function(root){root.querySelectorAll('code.language-mermaid').forEach(function(el){var p=el.parentElement;var d=document.createElement('div');d.className='mermaid';d.textContent=el.textContent;p.parentNode.replaceChild(d,p);});};
function needs(b){return b.nodeType===1&&!b.hasAttribute('data-velto-slice')&&(b.matches('pre,.mermaid,img')||!!b.querySelector('pre,.mermaid,img')||MATHRE.test(b.textContent));}
// From the blocks' HTML when it is at hand: no text is made for every block of a long body. It finds all the element test finds (an entity may stand for any character), and a few more, which are typeset to no effect.
var MAYNEED=/<pre|<img|mermaid|\$|\\[(\[]|&/;
// `far`: blocks put in away from the view, which the page need not wait to see drawn.
V.add=function(nodes,html,far){for(var i=0;i<nodes.length;i++){var n=nodes[i];if(html?n.nodeType===1&&MAYNEED.test(html[i]):needs(n))V.todo.add(n);}if(!far)V.painted();V.kick();};
// New blocks show (and read as text) only once a frame has laid them out: until then the page counts as busy. A hidden page draws no frames; it waits a moment instead.
V.painted=function(){var k=V.unpainted=(V.unpainted||0)+1;var done=function(){if(V.unpainted===k){V.unpainted=0;V.kick();}};requestAnimationFrame(function(){requestAnimationFrame(done);});setTimeout(done,250);};
V.drop=function(n){V.todo.delete(n);V.live.delete(n);V.saved.delete(n);};
V.reset=function(){V.todo.clear();V.live.clear();V.saved.clear();V.lagging.clear();V.diagrams=[];V.fill=null;};
V.shift=function(n,d){var s=V.saved.get(n);if(!s)return;var l=s.querySelectorAll('[data-line]');for(var k=0;k<l.length;k++)l[k].setAttribute('data-line',parseInt(l[k].getAttribute('data-line'),10)+d);};
V.shiftBlock=function(n,d){if(n.nodeType!==1)return;if(n.hasAttribute('data-line'))n.setAttribute('data-line',parseInt(n.getAttribute('data-line'),10)+d);var l=n.querySelectorAll('[data-line]');for(var k=0;k<l.length;k++)l[k].setAttribute('data-line',parseInt(l[k].getAttribute('data-line'),10)+d);V.shift(n,d);};
// A line added near the top of a long body would rewrite the line attributes of every block after it: a group wholly after the change keeps the change as a pending delta (g.__veltoLag, also owed by the source kept for its typeset blocks) instead, and whatever reads its attributes brings it up to date first (V.sync; V.syncLines for the whole page).
V.lagging=new Set();
V.lag=function(g,d){g.__veltoLag=(g.__veltoLag||0)+d;if(g.__veltoLag)V.lagging.add(g);else V.lagging.delete(g);};
V.sync=function(g){var d=g&&g.__veltoLag;if(!d)return;g.__veltoLag=0;V.lagging.delete(g);for(var n=g.firstChild;n;n=n.nextSibling)V.shiftBlock(n,d);};
V.syncLines=function(){V.lagging.forEach(V.sync);};
V.line=function(n){var g=n.parentNode;return parseInt(n.getAttribute('data-line'),10)+(isG(g)&&g.__veltoLag||0);};
V.typeset=function(b){if(!V.todo.has(b))return;V.todo.delete(b);V.showImages(b);
var mm=b.matches('.mermaid')?[b]:Array.prototype.slice.call(b.querySelectorAll('.mermaid'));
if(!mm.length)V.saved.set(b,b.cloneNode(true));
if(typeof hljs!=='undefined'){b.querySelectorAll('pre code').forEach(function(e){hljs.highlightElement(e);});}
if(typeof renderMathInElement!=='undefined'&&MATHRE.test(b.textContent)){renderMathInElement(b,MATH);}
for(var i=0;i<mm.length;i++)V.diagrams.push(mm[i]);V.live.add(b);};
V.evict=function(b){var c=V.saved.get(b);if(!c)return;V.saved.delete(b);V.live.delete(b);while(b.firstChild)b.removeChild(b.firstChild);while(c.firstChild)b.appendChild(c.firstChild);V.todo.add(b);};
V.typesetAll=function(){V.finishFill();V.todo.forEach(function(b){if(b.isConnected)V.typeset(b);else V.todo.delete(b);});V.draw();};
V.draw=function(){if(!V.diagrams.length)return;var d=V.diagrams.filter(function(n){return n.isConnected;});V.diagrams=[];if(d.length&&typeof mermaid!=='undefined'){mermaid.run({nodes:d});}};
V.nodes=function(){return document.body.children;};
// The blocks (and slice placeholders) within `margin` viewports of the visible part, in order, or null. Only the groups there are looked into.
function span(n,top,bottom,out){var lo=0,hi=n.length-1,i=n.length;while(lo<=hi){var mid=(lo+hi)>>1;if(n[mid].getBoundingClientRect().bottom>=top){i=mid;hi=mid-1;}else lo=mid+1;}
for(;i<n.length&&n[i].getBoundingClientRect().top<=bottom;i++){if(isG(n[i]))span(n[i].children,top,bottom,out);else out.push(n[i]);}}
V.range=function(margin){var n=V.nodes(),h=window.innerHeight||0;if(!n.length||!h)return null;var out=[];span(n,-margin*h,h+margin*h,out);return out.length?out:null;};
V.pendingInView=function(){var r=V.range(0.5);if(!r)return false;for(var i=0;i<r.length;i++){if(V.todo.has(r[i])||r[i].hasAttribute('data-velto-slice'))return true;}return false;};
// The rest of a long body goes in afterwards, in turns that yield, and keeps nothing waiting but a patch, which is applied when it is all in.
V.busy=function(){return (!!V.fill&&(!!V.fill.then||!(V.fill.viewDone&&V.firstDrawn)))||(!!V.pinned&&V.pinned.held<2)||!!V.unpainted||!!V.marking||V.pendingInView();};
// Blocks not yet laid out have an estimated height: until those around it are, the element the view was brought to is held at the top (for a moment, and never against the reader's own scrolling); the page counts as busy until it has stayed there for two turns.
V.pin=function(el){var p=V.pinned={el:el,until:Date.now()+1500,held:0};setTimeout(function(){if(V.pinned===p){V.pinned=null;V.kick();}},1600);V.pinTick(p);};
V.pinTick=function(p){if(V.pinned!==p)return;if(!p.el.isConnected||Date.now()>p.until||p.held>=5){V.pinned=null;V.kick();return;}
var t=p.el.getBoundingClientRect().top;if(Math.abs(t)>1){window.scrollBy(0,t);p.held=0;}else p.held++;setTimeout(function(){V.pinTick(p);},30);};
['wheel','keydown','mousedown','touchstart'].forEach(function(e){window.addEventListener(e,function(){V.pinned=null;},{passive:true,capture:true});});
V.step=function(){var t0=performance.now(),F=V.fill,more=false;
if(!F||!F.viewDone||V.moved){V.moved=false;
var r=V.range(1),i,put=false;
if(F&&r){var sl=[];for(i=0;i<r.length;i++){if(r[i].__veltoSlice)sl.push(r[i].__veltoSlice);}sl.forEach(function(x){V.fillSlice(x,false);put=true;});if(put)r=V.range(1);}
if(r){for(i=0;i<r.length;i++){if(V.todo.has(r[i])){V.typeset(r[i]);if(performance.now()-t0>40){more=true;break;}}}}
V.draw();
var pending=more||V.pendingInView();if(F&&!pending)F.viewDone=true;
if(!V.firstDrawn&&!pending&&!V.marking){V.marking=true;requestAnimationFrame(function(){setTimeout(function(){if(V.marking&&!V.firstDrawn){V.firstDrawn=V.drawnBefore||Date.now();V.drawnBefore=0;}V.marking=false;V.kick();},0);});setTimeout(function(){V.marking=false;if(!V.firstDrawn)V.moved=true;V.kick();},250);}}
// The rest of a new body goes in once the visible part is on screen (or has had its time), in turns of its own.
F=V.fill;if(F&&!more&&((F.viewDone&&V.firstDrawn)||Date.now()-F.started>2000))V.fillNext();
if(V.live.size>V.keep)V.trim();
// Waiting for the first frame of the view, the fill is kicked again by its mark (or its 2 s fallback), not in a loop.
F=V.fill;var wait=F&&F.viewDone&&!V.firstDrawn&&Date.now()-F.started<=2000;if(more||(F&&!wait))V.kick();};
// Far from the view, typeset blocks go back to their source: memory stays bounded however far the reader scrolls.
// A block is as far as its group: a group far away is not laid out, and is not made to be by asking where its blocks are.
V.trim=function(){var h=window.innerHeight||1,far=[],rects=new Map();V.live.forEach(function(b){if(!V.saved.has(b))return;var e=isG(b.parentNode)?b.parentNode:b,r=rects.get(e);if(!r){r=e.getBoundingClientRect();rects.set(e,r);}var d=r.bottom<0?-r.bottom:(r.top>h?r.top-h:0);if(d>3*h)far.push([d,b]);});
far.sort(function(a,b){return b[0]-a[0];});for(var i=0;i<far.length&&V.live.size>V.keep/2;i++)V.evict(far[i][1]);};
// Brings the neighbourhood of a block into its final shape before the view moves there.
V.around=function(el){var b=V.blockOf(el);if(!b)return;var h=(window.innerHeight||600)*1.5,p=V.prev(b);for(var k=0;k<2&&p;k++,p=V.prev(p))V.typeset(p);
for(var s=0,c=b;c&&s<h;c=V.next(c)){V.typeset(c);s+=c.getBoundingClientRect().height;}V.draw();};
// A long new body's first blocks, shown while the rest is made; startFill keeps them when its own first blocks are the same.
V.showHead=function(html){V.reset();var b=document.body,c=document.createElement('div');c.innerHTML=html.join('');V.containers(c);var nodes=Array.prototype.slice.call(c.childNodes),whole=nodes.length===html.length;
var frag=V.wrap(nodes,whole?html.map(function(x){return x.length;}):null),groups=Array.prototype.slice.call(frag.childNodes);b.textContent='';b.appendChild(frag);
window.__veltoBlocks=null;V.firstDrawn=0;V.head=whole?{html:html,nodes:nodes,groups:groups}:null;V.add(nodes,whole?html:null,false);};
// A new body in slices: the slice holding the focus line first, then the others nearest first; placeholders of estimated height keep the rest of the page where it will be.
V.startFill=function(html,lines,focus,count){var H=V.head,b=document.body,slices=[],i=0,size=0,start=0,k=0;V.head=null;
var keep=!!H&&H.html.length<=html.length&&H.groups.every(function(g){return g.parentNode===b;})&&H.nodes.every(function(n,j){return n.isConnected&&H.html[j]===html[j];});
// The rest waits for a frame of the new body, as without a head; the head's first frame still counts as the first. A frame still awaited is the old body's.
V.drawnBefore=keep?V.firstDrawn:0;V.firstDrawn=0;V.marking=false;
// The head's blocks stay as they are, typeset or not.
var state=keep?H.nodes.map(function(n){return [V.todo.has(n),V.live.has(n),V.saved.get(n)];}):null;V.reset();
if(keep){H.nodes.forEach(function(n,j){var st=state[j];if(st[0])V.todo.add(n);if(st[1])V.live.add(n);if(st[2])V.saved.set(n,st[2]);});k=H.html.length;
for(;i<k;i++)size+=html[i].length;slices.push({from:0,to:k,size:size,line:lines[0],node:null,nodes:H.nodes,groups:H.groups});start=k;size=0;}
for(i=k;i<html.length;i++){size+=html[i].length;if(size>=49152||i===html.length-1){slices.push({from:start,to:i+1,size:size,line:lines[start],node:null,nodes:null});start=i+1;size=0;}}
var f=0;for(i=0;i<slices.length;i++){if(slices[i].from<=focus)f=i;}
V.fill={html:html,slices:slices,order:[],nodes:[],ok:count===html.length,ratio:0,started:Date.now()};setTimeout(V.kick,2100);
var frag=document.createDocumentFragment();slices.forEach(function(s){if(s.nodes)return;var d=document.createElement('div');d.setAttribute('data-velto-slice','');d.__veltoSlice=s;s.node=d;frag.appendChild(d);});
if(keep){Array.prototype.slice.call(b.childNodes).forEach(function(n){if(H.groups.indexOf(n)<0)b.removeChild(n);});}else b.textContent='';b.appendChild(frag);
var order=slices.map(function(s,k){return k;});order.sort(function(a,c){var da=a>=f?a-f:f-a+0.5,dc=c>=f?c-f:f-c+0.5;return da-dc;});V.fill.order=order;
V.ratio=0;V.fillSlice(slices[f],false);var fs=slices[f];
// Heights per byte of HTML, from the first groups of the focus slice laid out for once.
var gs=fs.groups.slice(0,3),bytes=0,px=0,cnt=0;gs.forEach(function(g){g.style.contentVisibility='visible';});gs.forEach(function(g){px+=g.getBoundingClientRect().height;bytes+=g.__veltoBytes;cnt+=g.childElementCount;});gs.forEach(function(g){g.style.contentVisibility='';});
V.fill.ratio=V.ratio=bytes&&px?Math.max(0.005,px/bytes):0.05;if(cnt&&px)V.blockH=px/cnt;fs.groups.forEach(function(g){V.size(g,g.__veltoBytes*V.ratio);});
slices.forEach(function(s){if(!s.nodes)s.node.style.height=Math.round(s.size*V.fill.ratio)+'px';});
V.kick();};
// Parsed in a document of its own, where nothing loads (as a div of the page would parse it); images come in without their source, which they get back when their block is typeset near the view. The page's lazy loading does not apply to its own scheme: a long body's thousands of images would all be fetched at once, each request handled on the main process's GUI thread while the reader types.
V.parse=function(html){var c=(V.inert||(V.inert=document.implementation.createHTMLDocument(''))).body;c.innerHTML=html;c.querySelectorAll('img[src],img[srcset]').forEach(function(i){i.__veltoAttrs=Array.prototype.map.call(i.attributes,function(a){return [a.name,a.value];});i.removeAttribute('src');i.removeAttribute('srcset');});return c;};
// Attributes put back as they were, in their order.
V.showImages=function(b){var l=b.tagName==='IMG'?[b]:b.querySelectorAll('img');for(var k=0;k<l.length;k++){var i=l[k],a=i.__veltoAttrs;if(!a)continue;i.__veltoAttrs=null;while(i.attributes.length)i.removeAttribute(i.attributes[0].name);a.forEach(function(x){i.setAttribute(x[0],x[1]);});}};
V.fillSlice=function(s,far){if(s.nodes)return;var F=V.fill,c=V.parse(F.html.slice(s.from,s.to).join(''));
var whole=c.childNodes.length===s.to-s.from;if(!whole)F.ok=false;V.containers(c);s.nodes=Array.prototype.slice.call(c.childNodes);
var frag=V.wrap(s.nodes,whole?F.html.slice(s.from,s.to).map(function(x){return x.length;}):null);s.groups=Array.prototype.slice.call(frag.childNodes);s.node.parentNode.replaceChild(frag,s.node);s.node=null;V.add(s.nodes,whole?F.html.slice(s.from,s.to):null,far);};
V.fillNext=function(){var F=V.fill;if(!F)return;var t0=performance.now();while(F.order.length&&performance.now()-t0<(V.firstDrawn?250:40)){V.fillSlice(F.slices[F.order.shift()],true);}
if(!F.order.length)V.endFill();};
V.fillLine=function(line){var F=V.fill;if(!F)return null;var s=null;for(var i=0;i<F.slices.length;i++){if(F.slices[i].line>0&&F.slices[i].line<=line)s=F.slices[i];}if(!s)s=F.slices[0];V.fillSlice(s);return s;};
V.endFill=function(){var F=V.fill;if(!F)return;V.fill=null;var all=[];F.slices.forEach(function(s){all.push.apply(all,s.nodes);});
window.__veltoBlocks=F.ok?all:null;if(F.then&&F.then()==='stale')window.__veltoBlocks=null;};
V.finishFill=function(){var F=V.fill;if(!F)return;F.order.forEach(function(k){V.fillSlice(F.slices[k],true);});F.order=[];V.endFill();};
})();)JS");
    return js;
}

const char *const mermaidRun = "\nif(typeof mermaid!=='undefined'){mermaid.run();}";

// Highlighting, mathematics and diagram containers, run on the whole body.
QString redrawBeforeRun()
{
    static const QString piece = QString::fromLatin1(closeStyleText)
        + QString::fromLatin1("if(typeof hljs!=='undefined'){hljs.highlightAll();}\n"
                              "if(typeof renderMathInElement!=='undefined'){renderMathInElement("
                              "document.body,")
        + QString::fromLatin1(mathOptions) + QStringLiteral(");}\n")
        + QString::fromLatin1(mermaidContainers);
    return piece;
}

// Replaces the shown blocks by the new sequence: kept blocks stay in the page as they are (their
// line attributes shifted, also in the source kept for a typeset block), new ones are parsed in a
// detached container and put in their places, to be typeset when they come near the view.
// Answers 'ok:' + the number of blocks sent (+ ':busy' while the visible part is still being
// drawn), or 'stale' when the page does not hold the blocks the patch was made for.
QString patchFunction()
{
    static const QString fn = QString::fromLatin1(
                                  R"JS((function patch(ops){var b=document.body,V=window.__velto;
if(V&&V.fill){V.fill.then=function(){return patch(ops);};V.kick();return 'ok:'+ops.filter(function(o){return typeof o==='string';}).length+':busy';}
if(V)V.firstDrawn=0;var old=window.__veltoBlocks;if(!old)return 'stale';
var next=[],fresh=[],html=[],kept=null,i,j,lp=null,to=0,inOrder=!!V;
function inPage(n){return V?V.inPage(n):n.parentNode===b;}
// Kept runs in the page's order (an edit's; a move's are not) are checked and taken apart run by run rather than block by block: no block can be in two of them, the blocks of a run share their groups, and the blocks between runs are those that go.
for(i=0;i<ops.length&&inOrder;i++){if(typeof ops[i]!=='string'){inOrder=ops[i][0]>=to;to=ops[i][0]+ops[i][1];}}
if(!inOrder)kept=new Set();
var shift=V?V.shiftBlock:function(n,d){if(n.nodeType!==1)return;if(n.hasAttribute('data-line'))n.setAttribute('data-line',parseInt(n.getAttribute('data-line'),10)+d);var l=n.querySelectorAll('[data-line]');for(var k=0;k<l.length;k++)l[k].setAttribute('data-line',parseInt(l[k].getAttribute('data-line'),10)+d);};
for(i=0;i<ops.length;i++){var op=ops[i];if(typeof op==='string'){fresh.push(next.length);next.push(null);html.push(op);continue;}
for(j=op[0];j<op[0]+op[1];j++){var n=old[j];if(!n)return 'stale';var p=n.parentNode;if(p!==lp){if(!inPage(n))return 'stale';if(!kept&&p===b)kept=new Set(next.filter(Boolean));lp=p;}if(kept){if(kept.has(n))return 'stale';kept.add(n);}next.push(n);}}
var c=document.createElement('div');c.innerHTML=html.join('');if(c.childNodes.length!==html.length)return 'stale';
// A kept run's line delta: a group wholly in the run owes it, the few others are brought up to date and shifted block by block.
for(i=0;i<ops.length;i++){op=ops[i];if(typeof op==='string'||!op[2])continue;var end=op[0]+op[1];
for(j=op[0];j<end;j++){var n=old[j],g=n.parentNode;if(V&&V.isGroup(g)){var len=g.childNodes.length;if(g.firstChild===n&&j+len<=end&&old[j+len-1]===g.lastChild){V.lag(g,op[2]);j+=len-1;continue;}V.sync(g);}shift(n,op[2]);}}
)JS")
        + QString::fromLatin1(mermaidContainers)
              .replace(QStringLiteral("document.querySelectorAll"),
                       QStringLiteral("c.querySelectorAll"))
        + QString::fromLatin1(R"JS(
var f=Array.prototype.slice.call(c.childNodes);for(i=0;i<fresh.length;i++)next[fresh[i]]=f[i];
var gone=[];if(kept){for(i=0;i<old.length;i++){if(!kept.has(old[i]))gone.push(old[i]);}}
else{to=0;for(i=0;i<ops.length;i++){op=ops[i];if(typeof op==='string')continue;for(j=to;j<op[0];j++)gone.push(old[j]);to=op[0]+op[1];}for(j=to;j<old.length;j++)gone.push(old[j]);}
gone.forEach(function(n){if(V)V.drop(n);if(inPage(n))n.parentNode.removeChild(n);});
// A block goes only into, or out of, a group whose lines are up to date.
var placed=kept&&new Set(next),boxes=V?V.groups():[b],g=0,ref=boxes[0].firstChild;
function put(n,box,at){if(V){V.sync(box);V.sync(n.parentNode);}box.insertBefore(n,at);}
// In order, the kept blocks are where they belong already: a new one goes before the block that follows it, or at the end of the last group; last first, so that what follows is in place.
if(!kept){for(i=fresh.length-1;i>=0;i--){var a=next[fresh[i]+1];if(a)put(next[fresh[i]],a.parentNode,a);else put(next[fresh[i]],boxes[boxes.length-1],null);}}
else{
// Otherwise the new sequence is put in along the old one, group after group; a block goes into the group where its place is.
var on=function(){while(!ref&&g<boxes.length-1){g++;ref=boxes[g].firstChild;}};
for(i=0;i<next.length;i++){on();while(ref&&ref!==next[i]&&!placed.has(ref)){ref=ref.nextSibling;on();}if(ref===next[i])ref=ref.nextSibling;else put(next[i],ref?ref.parentNode:boxes[g],ref);}}
// Groups hold only the page's blocks, all of them in the sequence: what else the body holds goes after it.
var stray=[];for(var s=b.firstChild;s;s=s.nextSibling){if(!(V&&V.isGroup(s))&&!(placed&&placed.has(s)))stray.push(s);}stray.forEach(function(s){b.appendChild(s);});
window.__veltoBlocks=next;if(V){V.balance();V.add(f);}else{)JS")
        + redrawBeforeRun().mid(int(qstrlen(closeStyleText))) + QString::fromLatin1(mermaidRun)
        + QStringLiteral("}\nreturn 'ok:'+html.length+(V&&V.busy()?':busy':'');})");
    return fn;
}

// Width and theme style, as every update sets them; ends inside the style text's quotes.
void appendLook(QString &script, bool wideMode, const QString &extraCSS)
{
    script += QLatin1String("document.body.style.maxWidth = '");
    script += wideMode ? QLatin1String("none") : QLatin1String("800px");
    script += QLatin1String("';\nvar ts = document.getElementById('theme-override');\n"
                            "if(!ts){ts=document.createElement('style');ts.id='theme-override';"
                            "document.head.appendChild(ts);}\nvar veltoThemeCSS = ");
    // A string literal that holds any style text, also style sheet files with line breaks and
    // backslashes.
    script += jsonStringLiteral(extraCSS);
}

void appendScroll(QString &script, std::optional<int> scrollLine)
{
    if (scrollLine) {
        script += QLatin1String("\nif(window._scrollToSourceLine) window._scrollToSourceLine(");
        script += QString::number(*scrollLine);
        script += QLatin1String(");");
    }
}

} // namespace

QString redrawPiece()
{
    static const QString piece = redrawBeforeRun() + QString::fromLatin1(mermaidRun);
    return piece;
}

QString updateScript(const QString &bodyHTML, bool wideMode, const QString &extraCSS,
                     std::optional<int> scrollLine, std::optional<int> blockCount)
{
    const QString body = jsonStringLiteral(bodyHTML);
    QString script;
    // Built in place: at 1 MB of body every extra copy costs milliseconds per keystroke.
    script.reserve(body.size() + extraCSS.size() + redrawPiece().size() + 600);
    script += QLatin1String("document.body.innerHTML = ");
    script += body;
    script += QLatin1String(";\n");
    appendLook(script, wideMode, extraCSS);
    script += QLatin1String(closeStyleText);
    script += QLatin1String("var __veltoV = window.__velto;\nif(__veltoV){__veltoV.reset();"
                            "__veltoV.firstDrawn=0;__veltoV.containers(document.body);}else{");
    script += redrawBeforeRun().mid(int(qstrlen(closeStyleText)));
    script += QLatin1String("}");
    if (blockCount) {
        script += QLatin1String("\nwindow.__veltoBlocks=(function(c){return c.length===");
        script += QString::number(*blockCount);
        script
            += QLatin1String("?Array.prototype.slice.call(c):null;})(document.body.childNodes);");
    } else {
        script += QLatin1String("\nwindow.__veltoBlocks=null;");
    }
    script += QLatin1String("\nif(__veltoV){__veltoV.add(__veltoV.wrapBody());}else{");
    script += QString::fromLatin1(mermaidRun);
    script += QLatin1String("}");
    appendScroll(script, scrollLine);
    script += QLatin1String("\n") + busyScript();
    return script;
}

QString fillScript(const QString &blocksJSON, const QString &linesJSON, int focusBlock,
                   int blockCount, bool wideMode, const QString &extraCSS,
                   std::optional<int> scrollLine)
{
    QString script;
    script.reserve(blocksJSON.size() + linesJSON.size() + extraCSS.size() + 600);
    appendLook(script, wideMode, extraCSS);
    script += QLatin1String(closeStyleText);
    script += QLatin1String("window.__veltoBlocks=null;\n__velto.startFill(");
    script += blocksJSON;
    script += u',';
    script += linesJSON;
    script += QStringLiteral(",%1,%2);").arg(focusBlock).arg(blockCount);
    appendScroll(script, scrollLine);
    script += QLatin1String("\n") + busyScript();
    return script;
}

QString headScript(const QString &blocksJSON, bool wideMode, const QString &extraCSS,
                   std::optional<int> scrollLine)
{
    QString script;
    script.reserve(blocksJSON.size() + extraCSS.size() + 400);
    appendLook(script, wideMode, extraCSS);
    script += QLatin1String(closeStyleText);
    script += QLatin1String("__velto.showHead(");
    script += blocksJSON;
    script += QLatin1String(");");
    appendScroll(script, scrollLine);
    return script;
}

QString busyScript()
{
    // Keeps the drawing going too: a page whose drawing stopped (a script error in a library)
    // must not stay busy for ever.
    return QStringLiteral("(window.__velto&&(__velto.kick(),__velto.busy()))?'busy':'done'");
}

QString patchScript(const QString &opsJSON, bool wideMode, const QString &extraCSS,
                    std::optional<int> scrollLine)
{
    QString script;
    script.reserve(opsJSON.size() + extraCSS.size() + patchFunction().size() + 400);
    appendLook(script, wideMode, extraCSS);
    script += QLatin1String(closeStyleText);
    script += QLatin1String("var __veltoPatched = ");
    script += patchFunction();
    script += u'(';
    script += opsJSON;
    script += QLatin1String(");");
    appendScroll(script, scrollLine);
    script += QLatin1String("\n__veltoPatched;");
    return script;
}

QString lookScript(bool wideMode, const QString &extraCSS)
{
    QString script;
    appendLook(script, wideMode, extraCSS);
    script += QLatin1String(closeStyleText);
    return script;
}

QString setupScript(bool darkPage)
{
    const QString dark = darkPage
        ? QStringLiteral("true")
        : QStringLiteral("(window.matchMedia&&window.matchMedia('(prefers-color-scheme:dark)')"
                         ".matches)");
    // With the body's blocks known (window.__veltoBlocks, in line order), the element is looked
    // for only inside the last block starting at or before the line: no element of an earlier
    // block can have a later line. Otherwise every element is looked at.
    // While a long body is still being put in, the slice holding the line is put in at once and
    // only its elements are looked at. A block's line is read with its group's pending delta;
    // the elements looked at are brought up to date first. The blocks around the element are
    // typeset before the view moves, so it lands where the element stays.
    return QStringLiteral("if(typeof mermaid!=='undefined'){mermaid.initialize({startOnLoad:false,"
                          "theme:")
        + dark + QStringLiteral("?'dark':'default'});}\n") + runtime() + u'\n'
        + QString::fromLatin1(
               R"JS(window._scrollToSourceLine=function(line){if(!(line>=1))return;var V=window.__velto,els=null,blocks=window.__veltoBlocks;
if(V&&V.fill){var sl=V.fillLine(line);blocks=null;if(sl){V.syncLines();els=[];sl.nodes.forEach(function(n){if(n.nodeType===1){els.push(n);els.push.apply(els,n.querySelectorAll('[data-line]'));}});}}
if(blocks){var lo=0,hi=blocks.length-1,top=-1;while(lo<=hi){var mid=(lo+hi)>>1,k=mid,v=NaN;while(k>=lo){var n=blocks[k];if(V?!V.inPage(n):n.parentNode!==document.body){blocks=null;break;}if(n.nodeType===1&&n.hasAttribute('data-line')){v=V?V.line(n):parseInt(n.getAttribute('data-line'),10);break;}k--;}if(!blocks)break;if(k<lo){lo=mid+1;}else if(v>line){hi=k-1;}else{top=k;lo=mid+1;}}
if(blocks){if(top<0)return;var b=blocks[top];if(V)V.sync(b.parentNode);els=[b].concat(Array.prototype.slice.call(b.querySelectorAll('[data-line]')));}}
if(!els){if(V)V.syncLines();els=document.querySelectorAll('[data-line]');}var best=null,bestLine=0;for(var i=0;i<els.length;i++){var v=parseInt(els[i].getAttribute('data-line'),10);if(v<=line&&(best===null||v>bestLine)){best=els[i];bestLine=v;}}if(best){if(V)V.around(best);best.scrollIntoView({block:'start'});if(V){V.pin(best);V.kick();}}};)JS");
}

QString scrollScript(int line)
{
    return QStringLiteral("if(window._scrollToSourceLine) window._scrollToSourceLine(")
        + QString::number(line) + u')';
}

QString pdfPostRenderScript()
{
    return QString::fromLatin1(
               R"JS(if(typeof mermaid!=='undefined'){mermaid.initialize({startOnLoad:false,theme:'default'});}
if(typeof hljs!=='undefined'){hljs.highlightAll();}
if(typeof renderMathInElement!=='undefined'){renderMathInElement(document.body,{delimiters:[{left:'$$',right:'$$',display:true},{left:'$',right:'$',display:false}],throwOnError:false});}
)JS") + QString::fromLatin1(mermaidContainers)
        + QStringLiteral("\nif(typeof mermaid!=='undefined'){mermaid.run();}");
}

} // namespace PreviewScripts
