#include "QStringPrinter.h"
#include "WebTestSupport.h"
#include "support/TestSupport.h"

#include "Velto/preview/Export.h"
#include "Velto/preview/PageSchemeHandler.h"
#include "Velto/preview/PreviewServices.h"
#include "core/markdown/MarkdownPageBuilder.h"
#include "platform/Clock.h"
#include "support/LogCapture.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QMainWindow>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QWebEngineView>

#include <gtest/gtest.h>

#include <csignal>

#include <sys/resource.h>

using namespace std::chrono_literals;

namespace {

// A save panel that answers with a fixed path (empty: cancel), and a timer the test fires.
struct ExportFixture : ::testing::Test
{
    QTemporaryDir dir;
    QString answer;
    QList<ExportEnvironment::FileRequest> requests;
    QList<std::function<void()>> timers;
    QList<int> timerDelays;

    ExportEnvironment environment()
    {
        ExportEnvironment env;
        env.chooseFile = [this](const ExportEnvironment::FileRequest &request,
                                std::function<void(const QString &)> done) {
            requests << request;
            done(answer);
        };
        env.delay = [this](int ms, QObject *, std::function<void()> fn) {
            timerDelays << ms;
            timers << std::move(fn);
        };
        env.renderExportPage
            = [](const QString &md) { return webtest::pages().renderExportPage(md); };
        env.pageHandler = &webtest::pageHandler();
        env.previewScripts = [] { return webtest::libraries(); };
        return env;
    }
    QString path(const QString &name) const { return dir.filePath(name); }
};

using HTMLExport = ExportFixture;

TEST_F(HTMLExport, confirmingWritesExactlyTheExportPage)
{
    answer = path(QStringLiteral("out.html"));
    const QString text = QStringLiteral("# Héllo\n\n$x$ and `code`\n");
    Export::exportHTML(text, environment());
    ASSERT_EQ(requests.size(), 1);
    EXPECT_EQ(requests[0].proposedName, QStringLiteral("export.html"));
    EXPECT_EQ(requests[0].nameFilter, QStringLiteral("HTML (*.html)"));
    EXPECT_EQ(requests[0].defaultSuffix, QStringLiteral("html"));
    const QByteArray written = testsupport::readFile(answer);
    EXPECT_EQ(written, webtest::pages().renderExportPage(text).toUtf8());
    EXPECT_TRUE(written.contains("<h1 data-line=\"1\">Héllo</h1>"));
    EXPECT_TRUE(written.contains("mermaid.run()"));
}

TEST_F(HTMLExport, cancellingWritesNothing)
{
    answer.clear();
    Export::exportHTML(QStringLiteral("x"), environment());
    EXPECT_EQ(requests.size(), 1);
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());
}

TEST_F(HTMLExport, anExistingFileIsReplacedAndAFailedWriteIsLoggedAndLeavesNoFile)
{
    answer = path(QStringLiteral("old.html"));
    ASSERT_TRUE(
        testsupport::writeFile(answer, "old contents that are longer than the new page? no"));
    Export::exportHTML(QStringLiteral("new"), environment());
    EXPECT_TRUE(testsupport::readFile(answer).contains("<p data-line=\"1\">new</p>"));

    testsupport::LogCapture log;
    answer = path(QStringLiteral("missing/folder/out.html"));
    Export::exportHTML(QStringLiteral("x"), environment());
    EXPECT_FALSE(QFileInfo::exists(answer));
    const QStringList lines = log.lines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("[Export] write failed: ") + answer + u':'));
}

TEST(ExportWrite, aWriteFailingMidwayKeepsTheOldFile)
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("keep.pdf"));
    ASSERT_TRUE(testsupport::writeFile(target, "%PDF-old"));
    // A file size limit makes the write fail partway, as a full disk would.
    rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small {4096, old.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    testsupport::LogCapture log;
    const bool ok = Export::writeFile(target, QByteArray(1 << 20, 'x'));
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_FALSE(ok);
    EXPECT_EQ(testsupport::readFile(target), QByteArray("%PDF-old"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList {QStringLiteral("keep.pdf")});
    EXPECT_TRUE(log.contains(QStringLiteral("[Export] write failed: ") + target));
}

struct PDFExport : ExportFixture
{
    // Runs an export up to its settle timer, fires it, and waits for the export to end.
    void runToEnd(PDFDelegate *delegate)
    {
        QPointer<PDFDelegate> guard(delegate);
        ASSERT_TRUE(testsupport::waitUntil([&] { return !timers.isEmpty() || !guard; }, 60s));
        ASSERT_TRUE(guard) << "the export ended before its settle time";
        EXPECT_TRUE(requests.isEmpty()) << "the panel must wait for the settle time";
        EXPECT_EQ(timerDelays, QList<int> {800});
        timers.takeFirst()();
        ASSERT_TRUE(testsupport::waitUntil([&] { return !guard; }, 60s));
    }
    static int pdfPages(const QString &file)
    {
        QProcess p;
        p.start(QStringLiteral("pdfinfo"), {file});
        if (!p.waitForFinished(30000) || p.exitCode() != 0)
            return -1;
        const auto m = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)"))
                           .match(QString::fromUtf8(p.readAllStandardOutput()));
        return m.hasMatch() ? m.captured(1).toInt() : -1;
    }
};

TEST_F(PDFExport, anEmptyDocumentBecomesAValidPDFWrittenOnlyAfterThePanel)
{
    answer = path(QStringLiteral("empty.pdf"));
    const int published = webtest::pageHandler().publishedCount();
    runToEnd(Export::exportPDF(QString(), environment()));
    ASSERT_EQ(requests.size(), 1);
    EXPECT_EQ(requests[0].proposedName, QStringLiteral("export.pdf"));
    EXPECT_EQ(requests[0].nameFilter, QStringLiteral("PDF (*.pdf)"));
    const QByteArray pdf = testsupport::readFile(answer);
    EXPECT_TRUE(pdf.startsWith("%PDF-"));
    EXPECT_EQ(pdfPages(answer), 1);
    EXPECT_EQ(webtest::pageHandler().publishedCount(), published);
}

TEST_F(PDFExport, aLongDocumentWithMathCodeAndADiagramIsPaginated)
{
    QString text = QStringLiteral("# Report\n\n$E=mc^2$\n\n```cpp\nint x = 1;\n```\n\n"
                                  "```mermaid\ngraph TD\n  A-->B\n```\n\n");
    for (int i = 0; i < 200; ++i)
        text += QStringLiteral("Paragraph %1 with some words to fill the line.\n\n").arg(i);
    answer = path(QStringLiteral("long.pdf"));
    runToEnd(Export::exportPDF(text, environment()));
    EXPECT_TRUE(testsupport::readFile(answer).startsWith("%PDF-"));
    EXPECT_GT(pdfPages(answer), 1);
}

TEST_F(PDFExport, showsImagesFromTheDocumentsFolderOnly)
{
    ASSERT_TRUE(QDir().mkpath(path(QStringLiteral("doc"))));
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::blue);
    ASSERT_TRUE(image.save(path(QStringLiteral("doc/local.png"))));
    ASSERT_TRUE(image.save(path(QStringLiteral("outside.png"))));
    ExportEnvironment env = environment();
    env.documentFolder = path(QStringLiteral("doc"));
    answer = path(QStringLiteral("images.pdf"));
    runToEnd(Export::exportPDF(QStringLiteral("![a](local.png)\n\n![b](../outside.png)\n"), env));
    QProcess list;
    list.start(QStringLiteral("pdfimages"), {QStringLiteral("-list"), answer});
    ASSERT_TRUE(list.waitForFinished(30000));
    // Both pictures are 40 x 30; the refused one leaves only the engine's small broken-image sign.
    const QString listed = QString::fromUtf8(list.readAllStandardOutput());
    EXPECT_EQ(listed.count(QRegularExpression(QStringLiteral("\\simage\\s+40\\s+30\\s"))), 1)
        << listed.toStdString();
}

TEST_F(PDFExport, cancellingThePanelDropsThePDF)
{
    answer.clear();
    runToEnd(Export::exportPDF(QStringLiteral("# x"), environment()));
    EXPECT_EQ(requests.size(), 1);
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());
}

TEST_F(PDFExport, twoExportsRunSideBySide)
{
    ExportEnvironment env = environment();
    QStringList targets {path(QStringLiteral("a.pdf")), path(QStringLiteral("b.pdf"))};
    env.chooseFile = [&](const ExportEnvironment::FileRequest &,
                         std::function<void(const QString &)> done) { done(targets.takeFirst()); };
    QPointer<PDFDelegate> a = Export::exportPDF(QStringLiteral("# A"), env);
    QPointer<PDFDelegate> b = Export::exportPDF(QStringLiteral("# B"), env);
    ASSERT_TRUE(testsupport::waitUntil([&] { return timers.size() == 2; }, 60s));
    for (auto &fire : timers)
        fire();
    ASSERT_TRUE(testsupport::waitUntil([&] { return !a && !b; }, 60s));
    EXPECT_TRUE(testsupport::readFile(path(QStringLiteral("a.pdf"))).startsWith("%PDF-"));
    EXPECT_TRUE(testsupport::readFile(path(QStringLiteral("b.pdf"))).startsWith("%PDF-"));
}

TEST_F(PDFExport, theSavePanelBelongsToTheMainWindowAndOutlivesTheExportView)
{
    QMainWindow window;
    window.show();
    ExportEnvironment env = environment();
    Clock clock;
    env.chooseFile
        = ExportEnvironment::of({clock, webtest::pages(), webtest::pageHandler()}).chooseFile;
    auto panel = [] {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *d = qobject_cast<QFileDialog *>(w); d && d->isVisible())
                return QPointer<QFileDialog>(d);
        return QPointer<QFileDialog>();
    };
    auto exportUpToThePanel = [&](const QString &markdown) {
        QPointer<PDFDelegate> delegate = Export::exportPDF(markdown, env);
        EXPECT_TRUE(testsupport::waitUntil([&] { return !timers.isEmpty(); }, 60s));
        // Under a window manager the hidden export view can be the active window by now.
        QPointer<QWebEngineView> exportView = delegate->retainedWebView;
        QApplication::setActiveWindow(exportView);
        timers.takeFirst()();
        EXPECT_TRUE(
            testsupport::waitUntil([&] { return !delegate && !exportView && panel(); }, 60s));
        QPointer<QFileDialog> dialog = panel();
        EXPECT_TRUE(dialog);
        if (dialog) {
            EXPECT_EQ(dialog->parentWidget(), &window);
        }
        return dialog;
    };

    testsupport::LogCapture log;
    QPointer<QFileDialog> dialog = exportUpToThePanel(QStringLiteral("# Saved"));
    ASSERT_TRUE(dialog);
    dialog->setDirectory(dir.path()); // and the proposed name
    QMetaObject::invokeMethod(dialog, "accept");
    EXPECT_TRUE(testsupport::readFile(path(QStringLiteral("export.pdf"))).startsWith("%PDF-"));

    dialog = exportUpToThePanel(QStringLiteral("# Dropped"));
    ASSERT_TRUE(dialog);
    dialog->setDirectory(dir.path());
    dialog->selectFile(QStringLiteral("other.pdf"));
    dialog->reject();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList {QStringLiteral("export.pdf")});
    EXPECT_TRUE(log.lines().isEmpty()); // a cancelled panel is no failure
}

TEST_F(PDFExport, aFailedPrintIsLoggedAndShowsNoPanel)
{
    testsupport::LogCapture log;
    QPointer<PDFDelegate> delegate = new PDFDelegate(environment());
    Export::savePDF(QByteArray(), delegate);
    EXPECT_TRUE(requests.isEmpty());
    const QStringList lines = log.lines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("[Export] PDF error: ")));
    EXPECT_TRUE(testsupport::waitUntil([&] { return !delegate; }));
}

} // namespace
