#include "core/markdown/MarkdownDocument.h"

#include "core/markdown/RangeCorrections.h"

#include "core/markdown/MarkdownWalker.h"
#include "core/markdown/SourceTextMap.h"
#include "platform/LatestWorker.h"

#include <QCoreApplication>
#include <QThread>

#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm.h>

#include <algorithm>
#include <atomic>
#include <cstring>

namespace {

std::atomic<quint64> nextSerial {1};

QByteArray parserInput(const QString &text)
{
    QByteArray utf8 = text.toUtf8();
    // The parser would turn NUL into U+FFFD itself, shifting every later byte column away from the
    // bytes we map columns on; doing it here keeps both sides on the same buffer.
    if (std::memchr(utf8.constData(), 0, size_t(utf8.size())) != nullptr)
        utf8.replace(QByteArray(1, '\0'), QByteArrayLiteral("\xEF\xBF\xBD"));
    return utf8;
}

struct ParserDeleter
{
    void operator()(cmark_parser *parser) const { cmark_parser_free(parser); }
};

// The string getters of the parser library copy a string into the tree on their first call.
// Doing that for every node once, here, makes later reads pure, so a shared tree can be read from
// several threads. The same walk finds the blocks whose positions need repair.
std::vector<SourcePositionRepair::Candidate> settleStrings(cmark_node *root)
{
    SourcePositionRepair::Collector collector;
    MarkdownWalker walker {MarkdownNode(root)};
    while (walker.next()) {
        cmark_node *node = walker.node().raw();
        if (!walker.entering()) {
            collector.exit(node);
            continue;
        }
        switch (cmark_node_get_type(node)) {
        case CMARK_NODE_CODE_BLOCK:
            cmark_node_get_fence_info(node);
            cmark_node_get_literal(node);
            break;
        case CMARK_NODE_TEXT:
        case CMARK_NODE_CODE:
        case CMARK_NODE_HTML_BLOCK:
        case CMARK_NODE_HTML_INLINE:
            cmark_node_get_literal(node);
            break;
        case CMARK_NODE_LINK:
        case CMARK_NODE_IMAGE:
            cmark_node_get_url(node);
            cmark_node_get_title(node);
            break;
        default:
            break;
        }
        collector.enter(node);
    }
    return collector.take();
}

} // namespace

void MarkdownDocument::registerExtensions()
{
    static std::once_flag once;
    std::call_once(once, [] { cmark_gfm_core_extensions_ensure_registered(); });
}

MarkdownDocument::MarkdownDocument(const QString &text)
    : m_text(text)
    , m_utf8(parserInput(text))
    , m_serial(nextSerial.fetch_add(1, std::memory_order_relaxed))
{
    registerExtensions();
    std::unique_ptr<cmark_parser, ParserDeleter> parser(
        cmark_parser_new(CMARK_OPT_SMART | CMARK_OPT_SOURCEPOS));
    for (const char *name : {"table", "strikethrough", "tasklist"}) {
        if (cmark_syntax_extension *extension = cmark_find_syntax_extension(name))
            cmark_parser_attach_syntax_extension(parser.get(), extension);
    }
    cmark_parser_feed(parser.get(), m_utf8.constData(), size_t(m_utf8.size()));
    {
        // Finishing parses the inlines, around which the library switches the extensions'
        // characters (the "~" of strikethrough) on and off in a table shared by the whole
        // process: two finishing at once would take them away from each other.
        static std::mutex finishing;
        std::lock_guard lock(finishing);
        m_root = cmark_parser_finish(parser.get());
    }
    m_repairCandidates = settleStrings(m_root);
}

MarkdownDocument::~MarkdownDocument()
{
    // Frees iteratively, also for trees tens of thousands of levels deep.
    if (m_root)
        cmark_node_free(m_root);
}

std::shared_ptr<const MarkdownDocument> MarkdownDocument::parse(const QString &text)
{
    // Taking the tree of a long text apart costs a sixth of parsing it. The UI thread leaves that
    // to a thread of its own; worker threads free their trees at once, since a tree freed by one
    // thread while another parses slows the parse several times over (they share the allocator's
    // arena) and lets freed memory pile up.
    constexpr qsizetype freedInBackground = 64 * 1024;
    if (text.size() < freedInBackground)
        return std::make_shared<const MarkdownDocument>(text);
    return std::shared_ptr<const MarkdownDocument>(
        new MarkdownDocument(text), [](const MarkdownDocument *document) {
            const QCoreApplication *app = QCoreApplication::instance();
            if (app && QThread::currentThread() == app->thread())
                destroyInBackground([document] { delete document; });
            else
                delete document;
        });
}

bool MarkdownDocument::isParseOf(const QString &text) const
{
    if (text.size() != m_text.size())
        return false;
    if (text.constData() == m_text.constData())
        return true;
    return text == m_text;
}

const SourceTextMap &MarkdownDocument::map() const
{
    // Asked for every range: the common case must not pay for the call below.
    if (m_mapReady.load(std::memory_order_acquire))
        return *m_map;
    std::call_once(m_mapOnce, [this] {
        m_map = std::make_unique<SourceTextMap>(m_utf8);
        SourcePositionRepair repair(
            m_utf8, *m_map, [this](cmark_node *node, const SourceRange &range) {
                if (const SourceRange *earlier = repairedRange(node)) {
                    m_repaired[size_t(earlier - m_repaired.data())] = range;
                    return;
                }
                m_repaired.push_back(range);
                cmark_node_set_user_data(node,
                                         reinterpret_cast<void *>(quintptr(m_repaired.size())));
            });
        for (const SourcePositionRepair::Candidate &candidate : m_repairCandidates)
            repair.repair(candidate);
        m_mapReady.store(true, std::memory_order_release);
    });
    return *m_map;
}

const SourceRange *MarkdownDocument::repairedRange(cmark_node *node) const
{
    const auto index = reinterpret_cast<quintptr>(cmark_node_get_user_data(node));
    return index > 0 && index <= m_repaired.size() ? &m_repaired[index - 1] : nullptr;
}

int MarkdownDocument::lineCount() const
{
    return map().lineCount();
}

namespace {

SourceRange recordedRange(cmark_node *node)
{
    return {{cmark_node_get_start_line(node), cmark_node_get_start_column(node)},
            {cmark_node_get_end_line(node), cmark_node_get_end_column(node) + 1}};
}

bool isValid(const SourceRange &range)
{
    return range.lower.line >= 1 && range.lower.column >= 1 && range.upper.line >= 1
        && !(range.upper < range.lower);
}

} // namespace

std::optional<SourceRange> MarkdownDocument::sourceRange(MarkdownNode node) const
{
    if (!node)
        return std::nullopt;
    map(); // repairs the ranges too
    cmark_node *raw = node.raw();
    if (const SourceRange *repaired = repairedRange(raw))
        return isValid(*repaired) ? std::optional(*repaired) : std::nullopt;
    SourceRange range = recordedRange(raw);
    if (range.lower.line < 1 || range.upper.line < 1)
        return std::nullopt;
    switch (node.kind()) {
    case MarkdownNodeKind::Heading:
        // Read raw: an empty indented heading ("   #") is recorded with its end before its start.
        range = extendedHeadingRange(range);
        break;
    case MarkdownNodeKind::Code:
        range = widenedCodeRange(range);
        break;
    default:
        break;
    }
    if (!isValid(range))
        return std::nullopt;
    return range;
}

int MarkdownDocument::startLine(MarkdownNode node) const
{
    if (!node)
        return 0;
    map();
    if (const SourceRange *repaired = repairedRange(node.raw()))
        return std::max(repaired->lower.line, 0);
    return node.startLine();
}

SourceRange MarkdownDocument::widenedCodeRange(const SourceRange &range) const
{
    const SourceTextMap &lines = *m_map;
    const auto start = lines.byteOffset(range.lower);
    const auto end = lines.byteOffset(range.upper);
    if (!start || !end)
        return range;
    return RangeCorrections::widenInlineCode(
        range, m_utf8.constData(), *start, *end, [&](int line) { return lines.lineStart(line); },
        [&](int line) { return lines.lineContentEnd(line); });
}

SourceRange MarkdownDocument::extendedHeadingRange(const SourceRange &range) const
{
    const SourceTextMap &lines = *m_map;
    const auto start = lines.byteOffset(range.lower);
    if (!start)
        return range;
    return RangeCorrections::extendHeading(
        range, m_utf8.constData(), m_utf8.size(), *start,
        [&](int line) { return lines.lineStart(line); },
        [&](int line) { return lines.lineContentEnd(line); });
}

std::optional<TextRange> MarkdownDocument::textRange(MarkdownNode node) const
{
    const auto range = sourceRange(node);
    return range ? textRange(*range) : std::nullopt;
}

std::optional<TextRange> MarkdownDocument::textRange(const SourceRange &range) const
{
    const SourceTextMap &lines = map();
    const auto start = lines.byteOffset(range.lower);
    const auto end = lines.byteOffset(range.upper);
    if (!start || !end)
        return std::nullopt;
    const TextRange mapped {lines.utf16Offset(range.lower.line, *start),
                            lines.utf16Offset(range.upper.line, *end)};
    if (mapped.end < mapped.start)
        return std::nullopt;
    return mapped;
}

std::optional<qsizetype> MarkdownDocument::textOffset(SourcePosition position) const
{
    const SourceTextMap &lines = map();
    const auto byte = lines.byteOffset(position);
    if (!byte)
        return std::nullopt;
    return lines.utf16Offset(position.line, *byte);
}

std::optional<qsizetype> MarkdownDocument::byteOffset(SourcePosition position) const
{
    return map().byteOffset(position);
}
