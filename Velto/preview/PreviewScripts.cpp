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
// line attributes shifted), new ones are parsed in a detached container, redrawn there in the same
// order as a whole body is, and put in their places. Answers 'ok:' + the number of blocks drawn,
// or 'stale' when the page does not hold the blocks the patch was made for.
QString patchFunction()
{
    static const QString fn
        = QString::fromLatin1(
              R"JS((function(ops){var b=document.body,old=window.__veltoBlocks;if(!old)return 'stale';
var next=[],fresh=[],html=[],kept=new Set(),i,j;
function shift(n,d){if(n.nodeType!==1)return;if(n.hasAttribute('data-line'))n.setAttribute('data-line',parseInt(n.getAttribute('data-line'),10)+d);var l=n.querySelectorAll('[data-line]');for(var k=0;k<l.length;k++)l[k].setAttribute('data-line',parseInt(l[k].getAttribute('data-line'),10)+d);}
for(i=0;i<ops.length;i++){var op=ops[i];if(typeof op==='string'){fresh.push(next.length);next.push(null);html.push(op);continue;}
for(j=op[0];j<op[0]+op[1];j++){var n=old[j];if(!n||n.parentNode!==b||kept.has(n))return 'stale';kept.add(n);next.push(n);if(op[2])shift(n,op[2]);}}
var c=document.createElement('div');c.innerHTML=html.join('');if(c.childNodes.length!==html.length)return 'stale';
if(typeof hljs!=='undefined'){c.querySelectorAll('pre code').forEach(function(e){hljs.highlightElement(e);});}
if(typeof renderMathInElement!=='undefined'){renderMathInElement(c,)JS")
        + QString::fromLatin1(mathOptions) + QString::fromLatin1(R"JS();}
)JS")
        + QString::fromLatin1(mermaidContainers)
              .replace(QStringLiteral("document.querySelectorAll"),
                       QStringLiteral("c.querySelectorAll"))
        + QString::fromLatin1(R"JS(
var f=Array.prototype.slice.call(c.childNodes);for(i=0;i<fresh.length;i++)next[fresh[i]]=f[i];
for(i=0;i<old.length;i++){if(!kept.has(old[i])&&old[i].parentNode===b)b.removeChild(old[i]);}
var placed=new Set(next),ref=b.firstChild;
for(i=0;i<next.length;i++){while(ref&&ref!==next[i]&&!placed.has(ref))ref=ref.nextSibling;if(ref===next[i])ref=ref.nextSibling;else b.insertBefore(next[i],ref);}
var stray=[];for(var s=b.firstChild;s;s=s.nextSibling)if(!placed.has(s))stray.push(s);stray.forEach(function(s){b.appendChild(s);});
window.__veltoBlocks=next;)JS")
        + QString::fromLatin1(mermaidRun) + QStringLiteral("\nreturn 'ok:'+html.length;})");
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
    script += redrawBeforeRun();
    // Before Mermaid starts: it adds and removes helper elements in the body while it draws.
    if (blockCount) {
        script += QLatin1String("\nwindow.__veltoBlocks=(function(c){return c.length===");
        script += QString::number(*blockCount);
        script
            += QLatin1String("?Array.prototype.slice.call(c):null;})(document.body.childNodes);");
    } else {
        script += QLatin1String("\nwindow.__veltoBlocks=null;");
    }
    script += QString::fromLatin1(mermaidRun);
    appendScroll(script, scrollLine);
    return script;
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
    return QStringLiteral("if(typeof mermaid!=='undefined'){mermaid.initialize({startOnLoad:false,"
                          "theme:")
        + dark + QStringLiteral("?'dark':'default'});}\n")
        + QString::fromLatin1(
               R"JS(window._scrollToSourceLine=function(line){if(!(line>=1))return;var els=null,blocks=window.__veltoBlocks;
if(blocks){var lo=0,hi=blocks.length-1,top=-1;while(lo<=hi){var mid=(lo+hi)>>1,k=mid,v=NaN;while(k>=lo){var n=blocks[k];if(n.parentNode!==document.body){blocks=null;break;}if(n.nodeType===1&&n.hasAttribute('data-line')){v=parseInt(n.getAttribute('data-line'),10);break;}k--;}if(!blocks)break;if(k<lo){lo=mid+1;}else if(v>line){hi=k-1;}else{top=k;lo=mid+1;}}
if(blocks){if(top<0)return;var b=blocks[top];els=[b].concat(Array.prototype.slice.call(b.querySelectorAll('[data-line]')));}}
if(!els)els=document.querySelectorAll('[data-line]');var best=null,bestLine=0;for(var i=0;i<els.length;i++){var v=parseInt(els[i].getAttribute('data-line'),10);if(v<=line&&(best===null||v>bestLine)){best=els[i];bestLine=v;}}if(best){best.scrollIntoView({block:'start'});}};)JS");
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
