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

QString jsonStringLiteral(const QString &text)
{
    QString out;
    out.reserve(text.size() + text.size() / 16 + 2);
    out += u'"';
    const char16_t *data = reinterpret_cast<const char16_t *>(text.constData());
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
    return out;
}

QString redrawPiece()
{
    // The delimiters must reach KaTeX as backslash + parenthesis / bracket, hence '\\(' in the
    // JavaScript source; a single backslash would make every "(…)" of the text mathematics.
    static const QString piece = QStringLiteral("';\n")
        + QString::fromLatin1(
                                     R"JS(if(typeof hljs!=='undefined'){hljs.highlightAll();}
if(typeof renderMathInElement!=='undefined'){renderMathInElement(document.body,{delimiters:[{left:'$$',right:'$$',display:true},{left:'$',right:'$',display:false},{left:'\\(',right:'\\)',display:false},{left:'\\[',right:'\\]',display:true}],throwOnError: false});}
)JS") + QString::fromLatin1(mermaidContainers)
        + QStringLiteral("\nif(typeof mermaid!=='undefined'){mermaid.run();}");
    return piece;
}

QString updateScript(const QString &bodyHTML, bool wideMode, const QString &extraCSS,
                     std::optional<int> scrollLine)
{
    QString css = extraCSS;
    css.replace(u'\'', QLatin1String("\\'"));
    const QString body = jsonStringLiteral(bodyHTML);
    QString script;
    // Built in place: at 1 MB of body every extra copy costs milliseconds per keystroke.
    script.reserve(body.size() + css.size() + redrawPiece().size() + 400);
    script += QLatin1String("document.body.innerHTML = ");
    script += body;
    script += QLatin1String(";\ndocument.body.style.maxWidth = '");
    script += wideMode ? QLatin1String("none") : QLatin1String("800px");
    script += QLatin1String("';\nvar ts = document.getElementById('theme-override');\n"
                            "if(!ts){ts=document.createElement('style');ts.id='theme-override';"
                            "document.head.appendChild(ts);}\nts.textContent = '");
    script += css;
    script += redrawPiece();
    if (scrollLine) {
        script += QLatin1String("\nif(window._scrollToSourceLine) window._scrollToSourceLine(");
        script += QString::number(*scrollLine);
        script += QLatin1String(");");
    }
    return script;
}

QString setupScript()
{
    return QString::fromLatin1(
        R"JS(if(typeof mermaid!=='undefined'){mermaid.initialize({startOnLoad:false,theme:(window.matchMedia&&window.matchMedia('(prefers-color-scheme:dark)').matches)?'dark':'default'});}
window._scrollToSourceLine=function(line){var els=document.querySelectorAll('[data-line]');var best=null,bestLine=0;for(var i=0;i<els.length;i++){var v=parseInt(els[i].getAttribute('data-line'),10);if(v<=line&&(best===null||v>bestLine)){best=els[i];bestLine=v;}}if(best){best.scrollIntoView({block:'start'});}};)JS");
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
