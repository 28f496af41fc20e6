#include "core/markdown/MarkdownPageBuilder.h"

#include "core/markdown/HTMLRenderer.h"

#include "core/markdown/MarkdownParser.h"

#include <QFile>
#include <QStringDecoder>

namespace {

constexpr char16_t headText[]
    = u"<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<style>";

constexpr char16_t baseStyleText[] = uR"CSS(</style>
<style>
:root { color-scheme: light dark; }
body {
    font-family: -apple-system, BlinkMacSystemFont, "Helvetica Neue", sans-serif;
    line-height: 1.6;
    padding: 20px 24px;
    max-width: 800px;
    margin: 0 auto;
}
code {
    background: rgba(128,128,128,0.12);
    padding: 2px 5px;
    border-radius: 3px;
    font-size: 0.9em;
    font-family: "SF Mono", Menlo, monospace;
}
pre { background: rgba(128,128,128,0.08); border-radius: 6px; padding: 14px; overflow-x: auto; }
pre code { background: none; padding: 0; font-size: 0.85em; }
blockquote {
    border-left: 3px solid rgba(128,128,128,0.35);
    margin-left: 0; padding-left: 16px;
    color: rgba(128,128,128,0.85);
}
table { border-collapse: collapse; width: 100%; }
th, td { border: 1px solid rgba(128,128,128,0.25); padding: 8px 12px; text-align: left; }
th { background: rgba(128,128,128,0.06); font-weight: 600; }
img { max-width: 100%; border-radius: 4px; }
a { color: #007AFF; text-decoration: none; }
a:hover { text-decoration: underline; }
hr { border: none; border-top: 1px solid rgba(128,128,128,0.25); margin: 24px 0; }
h1, h2, h3, h4, h5, h6 { margin-top: 1.4em; margin-bottom: 0.6em; }
h1 { font-size: 1.8em; }
h2 { font-size: 1.4em; }
h3 { font-size: 1.15em; }
.katex-display { overflow-x: auto; overflow-y: hidden; padding: 4px 0; }
.mermaid { text-align: center; margin: 16px 0; }
body { background-color: Canvas; overflow-wrap: break-word; }
body > :first-child { margin-top: 0; }
li > p:first-of-type { margin-top: 0; }
li > p:last-child { margin-bottom: 0; }
ul, ol, li { background-color: inherit; }
li > input[type="checkbox"]:first-child {
    appearance: none; box-sizing: border-box; width: 1em; height: 1em;
    margin: 0 0.4em 0 -1.35em; vertical-align: -0.15em;
    border: 1.5px solid rgba(128,128,128,0.6); border-radius: 3px; background-color: inherit;
}
li > input[type="checkbox"]:first-child:checked {
    border-color: #007AFF;
    background: #007AFF url("data:image/svg+xml,%3Csvg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 16 16'%3E%3Cpath d='M3.5 8.5l3 3 6-7' fill='none' stroke='white' stroke-width='2'/%3E%3C/svg%3E") center / 100% no-repeat;
}
li > input[type="checkbox"]:first-child + p { display: inline; }
</style>
</head>
<body>
)CSS";

constexpr char16_t tailText[] = u"\n</body>\n</html>";

// Each library is called only when its global exists, so the page works with any of them
// missing. Mermaid diagrams are fenced code blocks until they are swapped for their containers.
constexpr char16_t exportPostRenderText[] = uR"JS(<script>
if (typeof hljs !== 'undefined') {hljs.highlightAll();}
if (typeof renderMathInElement !== 'undefined') {
  renderMathInElement(document.body, {delimiters:[{left:'$$', right:'$$', display:true}, {left:'$', right:'$', display:false}], throwOnError:false});
}
if (typeof mermaid !== 'undefined') {
  mermaid.initialize({startOnLoad:false, theme:'default'});
  document.querySelectorAll('code.language-mermaid').forEach(function(el){
    var p = el.parentElement;
    var d = document.createElement('div');
    d.className = 'mermaid';
    d.textContent = el.textContent;
    p.parentNode.replaceChild(d, p);
  });
  mermaid.run();
}
</script>)JS";

template<qsizetype N> QString fromLiteral(const char16_t (&text)[N])
{
    return QString::fromRawData(reinterpret_cast<const QChar *>(text), N - 1);
}

// Splits at the last "." into base name and extension, as a resource lookup by name and type
// does; the pair names the file "base.extension", or "base" without an extension.
QString resourceFileName(const QString &fileName)
{
    const qsizetype dot = fileName.lastIndexOf(u'.');
    if (dot < 0)
        return fileName;
    const QString base = fileName.left(dot);
    const QString extension = fileName.mid(dot + 1);
    return extension.isEmpty() ? base : base + u'.' + extension;
}

} // namespace

MarkdownPageBuilder::MarkdownPageBuilder(QString resourceDir)
    : m_resourceDir(std::move(resourceDir))
{
}

const QStringList &MarkdownPageBuilder::katexFontNames()
{
    static const QStringList names {
        QStringLiteral("KaTeX_Main-Regular"),        QStringLiteral("KaTeX_Main-Bold"),
        QStringLiteral("KaTeX_Main-Italic"),         QStringLiteral("KaTeX_Math-Italic"),
        QStringLiteral("KaTeX_Math-BoldItalic"),     QStringLiteral("KaTeX_Size1-Regular"),
        QStringLiteral("KaTeX_Size2-Regular"),       QStringLiteral("KaTeX_Size3-Regular"),
        QStringLiteral("KaTeX_Size4-Regular"),       QStringLiteral("KaTeX_AMS-Regular"),
        QStringLiteral("KaTeX_Caligraphic-Regular"), QStringLiteral("KaTeX_Fraktur-Regular"),
        QStringLiteral("KaTeX_SansSerif-Regular"),   QStringLiteral("KaTeX_Script-Regular"),
        QStringLiteral("KaTeX_Typewriter-Regular"),
    };
    return names;
}

const QStringList &MarkdownPageBuilder::previewScriptNames()
{
    static const QStringList names {
        QStringLiteral("katex.min.js"),
        QStringLiteral("auto-render.min.js"),
        QStringLiteral("highlight.min.js"),
        QStringLiteral("mermaid.min.js"),
    };
    return names;
}

QString MarkdownPageBuilder::pageHead()
{
    return fromLiteral(headText);
}

QString MarkdownPageBuilder::baseStyleBlock()
{
    return fromLiteral(baseStyleText);
}

QString MarkdownPageBuilder::pageTail()
{
    return fromLiteral(tailText);
}

QString MarkdownPageBuilder::exportPostRender()
{
    return fromLiteral(exportPostRenderText);
}

std::optional<QByteArray> MarkdownPageBuilder::loadResourceData(const QString &fileName) const
{
    const QString name = resourceFileName(fileName);
    if (name.isEmpty() || name.contains(u'/') || name.contains(u'\\') || name == u".."
        || name == u".")
        return std::nullopt;
    QFile file(m_resourceDir + u'/' + name);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

std::optional<QString> MarkdownPageBuilder::loadResource(const QString &fileName) const
{
    const auto data = loadResourceData(fileName);
    if (!data)
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(*data);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

const QString &MarkdownPageBuilder::themeCSS() const
{
    std::call_once(m_themeOnce, [this] { m_themeCSS = buildThemeCSS(); });
    return m_themeCSS;
}

const QStringList &MarkdownPageBuilder::previewScripts() const
{
    std::call_once(m_scriptsOnce, [this] { m_previewScripts = readPreviewScripts(); });
    return m_previewScripts;
}

QString MarkdownPageBuilder::buildThemeCSS() const
{
    QStringList parts;
    if (auto katex = loadResource(QStringLiteral("katex.min.css"))) {
        // Inlined fonts let the page load without any base address or file access.
        for (const QString &font : katexFontNames()) {
            const auto bytes = loadResourceData(font + QStringLiteral(".woff2"));
            if (!bytes)
                continue;
            katex->replace(QStringLiteral("fonts/") + font + QStringLiteral(".woff2"),
                           QStringLiteral("data:font/woff2;base64,")
                               + QString::fromLatin1(bytes->toBase64()));
        }
        parts.append(*katex);
    }
    if (const auto light = loadResource(QStringLiteral("github.min.css")))
        parts.append(QStringLiteral("@media(prefers-color-scheme:light){") + *light + u'}');
    if (const auto dark = loadResource(QStringLiteral("github-dark.min.css")))
        parts.append(QStringLiteral("@media(prefers-color-scheme:dark){") + *dark + u'}');
    return parts.join(u'\n');
}

QStringList MarkdownPageBuilder::readPreviewScripts() const
{
    QStringList scripts;
    for (const QString &name : previewScriptNames()) {
        if (auto text = loadResource(name))
            scripts.append(*text);
    }
    return scripts;
}

QString MarkdownPageBuilder::pageAround(const QString &body) const
{
    const QString &theme = themeCSS();
    QString page;
    page.reserve(std::size(headText) + theme.size() + std::size(baseStyleText) + body.size()
                 + std::size(tailText));
    page += fromLiteral(headText);
    page += theme;
    page += fromLiteral(baseStyleText);
    page += body;
    page += fromLiteral(tailText);
    return page;
}

QString MarkdownPageBuilder::renderPage(const QString &markdown) const
{
    return renderPage(MarkdownDocument(markdown));
}

QString MarkdownPageBuilder::renderPage(const MarkdownDocument &document) const
{
    return pageAround(MarkdownParser::renderBody(document));
}

QString MarkdownPageBuilder::renderExportPage(const QString &markdown) const
{
    return renderExportPage(MarkdownDocument(markdown));
}

// The export page's auto-render knows fewer delimiters than the preview's: only what it renders
// as mathematics is kept as written.
QString MarkdownPageBuilder::renderExportPage(const MarkdownDocument &document) const
{
    std::string body;
    body.reserve(size_t(document.utf8().size()) * 4 / 3 + 64);
    HTMLRenderer::appendChildren(body, document, MathDelimiters::Export);
    return exportPageFrom(pageAround(QString::fromUtf8(body.data(), qsizetype(body.size()))));
}

// Every "</body>" gets the scripts, also one that raw HTML of the document put into the body.
QString MarkdownPageBuilder::exportPageFrom(const QString &page) const
{
    QStringList wrapped;
    for (const QString &script : previewScripts())
        wrapped.append(QStringLiteral("<script>") + script + QStringLiteral("</script>"));
    const QString insertion = wrapped.join(u'\n') + u'\n' + fromLiteral(exportPostRenderText)
        + QStringLiteral("\n</body>");
    QString result = page;
    result.replace(QStringLiteral("</body>"), insertion);
    return result;
}
