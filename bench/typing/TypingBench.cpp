// Typing as a user feels it. The real main window (editor, live preview, status bar) with services
// of its own opens generated documents through its workspace and is typed into on a wall-clock
// schedule; the figures are what a user waits for: until the document can be edited, how long
// the GUI thread is busy per key, how far keys fall behind, and how long after the last key the
// workspace, the editor's styles and the preview show the typed text. It only reads public state,
// so it measures whatever the editor and preview do inside.
//
//     bench_typing [--keys N] [--interval ms] [--only name,name] [--timeout s] [--max-rss MB]
//
// --timeout bounds every wait (and how far typing may fall behind); --max-rss stops typing when
// the process gets that large. With VELTO_TYPING_TRACE set, each key's busy time is printed with
// the events that took it, summed by kind and receiver, to tell where a slow key's time went.

#include "BusyClock.h"

#include "../support/MixedDocument.h"
#include "../support/PreviewProcesses.h"
#include "Velto/api/DebugServer.h"
#include "Velto/editor/EditorController.h"
#include "Velto/editor/MarkdownTextView.h"
#include "Velto/editor/VeltoTextView.h"
#include "Velto/model/AppSettings.h"
#include "Velto/model/FilePanels.h"
#include "Velto/model/HistoryStore.h"
#include "Velto/model/SettingsNavigation.h"
#include "Velto/model/WorkspaceState.h"
#include "Velto/preview/PageSchemeHandler.h"
#include "Velto/preview/PreviewView.h"
#include "Velto/shell/ContentView.h"
#include "Velto/shell/EditorView.h"
#include "Velto/shell/MainWindow.h"
#include "Velto/shell/VeltoApp.h"
#include "Velto/sync/MacSyncAdapter.h"
#include "core/ai/AISettings.h"
#include "core/markdown/MarkdownDocument.h"
#include "core/markdown/MarkdownPageBuilder.h"
#include "platform/BonjourAdvertiser.h"
#include "platform/Bookmarks.h"
#include "platform/Defaults.h"
#include "platform/HugePageHeap.h"
#include "platform/Log.h"
#include "platform/Resources.h"

#include <QApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QMap>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWebEnginePage>

#include <sys/resource.h>

#include <qcoro/qcorotask.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include <malloc.h>
#include <unistd.h>

namespace {
void printEventSums();

constexpr qint64 msNs = 1000000;

struct Options
{
    int keys = 200;
    int intervalMs = 20;
    int timeoutS = 60;
    int maxRssMiB = 4096;
    QStringList only;
};

// ---- documents

struct Document
{
    QString name;
    QString path;
    qsizetype caret = 0; // where typing starts, in UTF-16 units of the text
};

// A deterministic stream of numbers for the generated content and the keys.
class Sequence
{
public:
    explicit Sequence(quint32 seed)
        : m_state(seed)
    {
    }
    quint32 next(quint32 bound)
    {
        m_state = m_state * 1664525u + 1013904223u;
        return (m_state >> 8) % bound;
    }

private:
    quint32 m_state;
};

using benchsupport::fill;
using benchsupport::mixedChunk;

// The first occurrence of `marker` at or after the middle, plus `offset`.
qsizetype caretAfterMiddle(const QString &text, const QString &marker, qsizetype offset)
{
    qsizetype at = text.indexOf(marker, text.size() / 2);
    if (at < 0)
        at = text.indexOf(marker);
    return at < 0 ? text.size() / 2 : at + offset;
}

std::optional<Document> writeDocument(const QString &folder, const QString &name, qint64 bytes)
{
    Document doc;
    QString text;
    doc.name = name;
    doc.path = folder + u'/' + name + QStringLiteral(".md");
    if (name.startsWith(u"mixed")) {
        text = fill(bytes, mixedChunk);
        doc.caret = caretAfterMiddle(text, QStringLiteral("\nEin Absatz"), 11);
    } else if (name.startsWith(u"headings")) {
        text = fill(bytes, [](int) {
            return QStringLiteral("# Head ñ\n\nText mit Umlauten äöü und € und 😀.\n\n");
        });
        doc.caret = caretAfterMiddle(text, QStringLiteral("\nText mit"), 5);
    } else {
        // One line without spaces, as an image inlined as a data URL.
        static const char alphabet[]
            = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        QByteArray run(bytes, 'A');
        Sequence random(7);
        for (char &c : run)
            c = alphabet[random.next(64)];
        const QString before
            = QStringLiteral("# Bild\n\nVorher ein Satz.\n\n![x](data:image/png;base64,");
        text = before + QString::fromLatin1(run) + QStringLiteral(")\n\nNachher ein Satz.\n");
        doc.caret = before.size() + run.size() / 2;
    }
    QFile file(doc.path);
    const QByteArray utf8 = text.toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(utf8) != utf8.size())
        return std::nullopt;
    return doc;
}

// ---- services of the window: its own settings and history in a temporary folder, no panels,
// no advertising on the network

class NoAdvertising : public ServiceRegistrar
{
public:
    std::unique_ptr<Registration> registerService(const Service &, StateHandler, QString *) override
    {
        return std::make_unique<Registration>();
    }
};

class NoPanels : public FilePanels
{
public:
    void chooseOpenItem(const QString &, Completion completion) override { cancel(completion); }
    void chooseSaveLocation(const QString &, Completion completion) override { cancel(completion); }

private:
    static void cancel(const Completion &completion)
    {
        QTimer::singleShot(0, [completion] { completion(std::nullopt); });
    }
};

struct Services
{
    QTemporaryDir config;
    Defaults defaults {config.filePath(QStringLiteral("defaults.json"))};
    PathBookmarks bookmarks;
    AppSettings settings {defaults};
    AISettings ai {defaults};
    HistoryStore history {defaults, bookmarks};
    DebugServer api {settings};
    BonjourAdvertiser bonjour {std::make_unique<NoAdvertising>(),
                               [] { return QStringLiteral("bench"); }, QHostAddress::LocalHost};
    MacSyncAdapter sync {defaults, MacSyncAdapter::Services {.bonjour = &bonjour}};
    NoPanels panels;
    SettingsNavigation navigation;

    ShellServices shell()
    {
        // The page handler serves the web profile for the whole process, as the root's does.
        static const MarkdownPageBuilder pages(Resources::webDir());
        static auto *pageHandler = new PageSchemeHandler;
        ShellServices s {&settings, &history, &api, &sync, &defaults, &panels};
        s.aiSettings = &ai;
        s.navigation = &navigation;
        s.pages = &pages;
        s.pageHandler = pageHandler;
        return s;
    }
};

// ---- waiting without spinning: the loop blocks as it would for a user

// Runs the event loop until `done` holds, checking it whenever a connected signal fires and at
// every tick; false when the deadline passed first.
class Waiter : public QObject
{
public:
    explicit Waiter(std::function<bool()> done)
        : m_done(std::move(done))
    {
    }

    template<typename Sender, typename Signal> Waiter &on(Sender *sender, Signal signal)
    {
        if (sender)
            connect(sender, signal, this, [this] { check(); });
        return *this;
    }

    void check()
    {
        if (!m_finished && m_done()) {
            m_finished = true;
            m_loop.quit();
        }
    }

    bool run(qint64 deadlineNs, int tickMs = 10)
    {
        check();
        if (m_finished)
            return true;
        QTimer tick;
        if (tickMs > 0) {
            connect(&tick, &QTimer::timeout, this, [this] { check(); });
            tick.start(tickMs);
        }
        QTimer deadline;
        deadline.setSingleShot(true);
        connect(&deadline, &QTimer::timeout, &m_loop, &QEventLoop::quit);
        deadline.start(int(std::clamp<qint64>((deadlineNs - nowNs()) / msNs, 0, INT_MAX)));
        m_loop.exec();
        return m_finished;
    }

private:
    std::function<bool()> m_done;
    QEventLoop m_loop;
    bool m_finished = false;
};

void idleFor(int ms)
{
    Waiter([] { return false; }).run(nowNs() + ms * msNs);
}

// ---- memory

double statusMiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return -1;
}

// Samples the process's resident size on a thread of its own, so that a run whose memory runs
// away stops typing at the cap instead of taking the machine down; at twice the cap the run ends.
class MemoryGuard
{
public:
    explicit MemoryGuard(double capMiB)
        : m_capMiB(capMiB)
        , m_thread([this] { watch(); })
    {
    }
    ~MemoryGuard()
    {
        m_quit = true;
        m_thread.join();
    }

    bool overCap() const { return m_over; }
    double capMiB() const { return m_capMiB; }

private:
    void watch()
    {
        const double pageMiB = double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
        while (!m_quit) {
            long pages = 0;
            long resident = 0;
            if (std::FILE *statm = std::fopen("/proc/self/statm", "r")) {
                if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
                    resident = 0;
                std::fclose(statm);
            }
            const double rss = double(resident) * pageMiB;
            m_over = rss > m_capMiB;
            if (rss > 2 * m_capMiB) {
                std::printf("RSS %.0f MB is over twice the cap of %.0f MB (--max-rss): run ended\n",
                            rss, m_capMiB);
                std::fflush(stdout);
                std::_Exit(3);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }

    const double m_capMiB;
    std::atomic<bool> m_over {false};
    std::atomic<bool> m_quit {false};
    std::thread m_thread;
};

double processCpuSeconds()
{
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void resetPeakRss()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

// ---- the window under test

struct Window
{
    Services services;
    std::unique_ptr<MainWindow> window;

    WorkspaceState &workspace() const { return window->workspace(); }
    MarkdownTextView *editor() const { return window->content()->editorView()->editor(); }
    VeltoTextView *view() const { return editor()->textView(); }
    EditorController *controller() const { return editor()->controller(); }
    PreviewView *preview() const
    {
        return qobject_cast<PreviewView *>(window->content()->editorView()->preview());
    }

    // The preview shows the workspace's text and has nothing in flight.
    bool previewCurrent() const
    {
        PreviewView *p = preview();
        if (!p)
            return true;
        PreviewController &c = p->controller();
        if (!c.jsReady() || c.swapInFlight())
            return false;
        const std::optional<QString> shown = c.lastRenderedMarkdown();
        const QString &text = workspace().text();
        return shown && shown->size() == text.size() && *shown == text;
    }

    // The view holds the workspace's text (as long as it is; the view may show a long line in
    // pieces).
    bool editorHoldsText() const
    {
        const qsizetype size = workspace().text().size();
        return size > 0
            && controller()->workspaceOffset(view()->document()->characterCount() - 1) == size;
    }
};

// ---- typing

// The keys typed, in order: words of letters between spaces, now and then Enter or Backspace.
// '\n' is Enter, '\b' Backspace.
std::vector<char> plannedKeys(int count)
{
    std::vector<char> keys;
    Sequence random(42);
    int word = 0;
    for (int i = 0; i < count; ++i) {
        if (i > 0 && random.next(15) == 0) {
            keys.push_back('\b');
        } else if (i > 0 && random.next(60) == 0) {
            keys.push_back('\n');
            word = 0;
        } else if (word > 1 && random.next(7) == 0) {
            keys.push_back(' ');
            word = 0;
        } else {
            keys.push_back(char('a' + random.next(26)));
            ++word;
        }
    }
    return keys;
}

struct TypingResult
{
    int typed = 0;
    QString stopped; // why typing stopped before the last key
    std::vector<qint64> busyNs; // per key typed
    qint64 maxLatenessNs = 0;
    qint64 lastLatenessNs = 0;
    qint64 endNs = 0; // when the last key typed had been handled
};

// Sends each key when it is due: a thread posts one event per key at t0 + i·interval, and the
// main thread types the key when it gets to that event, as it would handle a key from the window
// system. How late it gets there is the backlog.
class Typist : public QObject
{
public:
    struct Due : QEvent
    {
        explicit Due(int index_)
            : QEvent(kind())
            , index(index_)
        {
        }
        static Type kind()
        {
            static const int t = QEvent::registerEventType();
            return Type(t);
        }
        int index;
    };

    Typist(VeltoTextView *view, const QString &text, qsizetype caret, std::vector<char> keys,
           qint64 intervalNs, qint64 stopAfterNs, const MemoryGuard &memory)
        : m_view(view)
        , m_text(text)
        , m_start(caret)
        , m_caret(caret)
        , m_keys(std::move(keys))
        , m_intervalNs(intervalNs)
        , m_stopAfterNs(stopAfterNs)
        , m_memory(memory)
    {
    }

    ~Typist() override
    {
        m_cancel = true;
        if (m_poster.joinable())
            m_poster.join();
        QCoreApplication::removePostedEvents(this);
    }

    // Types every key; `finished` runs on the main thread once the last key was handled or the
    // typing stopped because the keys fell too far behind or memory passed the cap.
    void start(std::function<void()> finished)
    {
        m_finished = std::move(finished);
        m_t0 = nowNs() + 50 * msNs;
        m_stopAtNs = m_t0 + qint64(m_keys.size()) * m_intervalNs + m_stopAfterNs;
        m_poster = std::thread([this] {
            for (int i = 0; i < int(m_keys.size()) && !m_cancel; ++i) {
                const qint64 due = m_t0 + i * m_intervalNs;
                std::this_thread::sleep_for(
                    std::chrono::nanoseconds(std::max<qint64>(0, due - nowNs())));
                QCoreApplication::postEvent(this, new Due(i));
            }
        });
        m_watchdog.setSingleShot(true);
        connect(&m_watchdog, &QTimer::timeout, this, [this] { stop(behind()); });
        m_watchdog.start(int((m_stopAtNs - nowNs()) / msNs) + 1);
    }

    const TypingResult &result() const { return m_result; }

    // Whether `text` is what the keys typed so far should have made; compared in place, as a
    // copy of a long text would take its page faults inside the last key's figures.
    bool madeText(const QString &text) const
    {
        const QStringView before = QStringView(m_text).left(m_start - m_erased);
        const QStringView after = QStringView(m_text).mid(m_start);
        const QStringView made(text);
        return made.size() == expectedSize() && made.startsWith(before)
            && made.mid(before.size(), m_typed.size()) == m_typed && made.endsWith(after);
    }
    qsizetype expectedSize() const { return m_text.size() - m_erased + m_typed.size(); }

protected:
    void customEvent(QEvent *event) override
    {
        if (event->type() != Due::kind() || m_done)
            return;
        const int i = static_cast<Due *>(event)->index;
        const qint64 at = nowNs();
        closeInterval();
        if (at > m_stopAtNs || m_memory.overCap()) {
            stop(at > m_stopAtNs ? behind()
                                 : QStringLiteral("RSS over %1 MB").arg(m_memory.capMiB()));
            return;
        }
        const qint64 lateness = at - (m_t0 + i * m_intervalNs);
        m_result.maxLatenessNs = std::max(m_result.maxLatenessNs, lateness);
        m_result.lastLatenessNs = lateness;
        m_intervalStart = BusyClock::busyNs();
        type(m_keys[size_t(i)]);
        ++m_result.typed;
        if (i + 1 == int(m_keys.size())) {
            // The last key's interval runs as long as the others would.
            QTimer::singleShot(int(m_intervalNs / msNs), Qt::PreciseTimer, this,
                               [this] { closeInterval(); });
            finish();
        }
    }

private:
    void type(char key)
    {
        switch (key) {
        case '\b':
            if (m_caret > 0) {
                QTest::keyClick(m_view, Qt::Key_Backspace);
                --m_caret;
                if (m_typed.isEmpty())
                    ++m_erased;
                else
                    m_typed.chop(1);
            }
            break;
        case '\n':
            QTest::keyClick(m_view, Qt::Key_Return);
            m_typed += u'\n';
            ++m_caret;
            break;
        default:
            QTest::keyClick(m_view, key);
            m_typed += QChar::fromLatin1(key);
            ++m_caret;
        }
    }

    void closeInterval()
    {
        if (m_intervalStart) {
            m_result.busyNs.push_back(BusyClock::busyNs() - *m_intervalStart);
            m_intervalStart.reset();
            static const bool trace = qEnvironmentVariableIsSet("VELTO_TYPING_TRACE");
            if (trace) {
                const char key = m_keys[m_result.busyNs.size() - 1];
                // The GUI thread's own account: on the processor (user, system), page faults,
                // and switches away (waiting, preempted).
                rusage usage {};
                getrusage(RUSAGE_THREAD, &usage);
                auto msOf = [](const timeval &t) {
                    return double(t.tv_sec) * 1e3 + double(t.tv_usec) / 1e3;
                };
                std::printf("key %zu busy %.1f ms (%s) | user %.1f sys %.1f ms, faults %ld, "
                            "waits %ld, preempted %ld\n",
                            m_result.busyNs.size(), double(m_result.busyNs.back()) / 1e6,
                            key == '\n'       ? "return"
                                : key == '\b' ? "backspace"
                                              : "character",
                            msOf(usage.ru_utime) - msOf(m_usage.ru_utime),
                            msOf(usage.ru_stime) - msOf(m_usage.ru_stime),
                            usage.ru_minflt - m_usage.ru_minflt, usage.ru_nvcsw - m_usage.ru_nvcsw,
                            usage.ru_nivcsw - m_usage.ru_nivcsw);
                m_usage = usage;
                printEventSums();
            }
        }
    }

    QString behind() const
    {
        return QStringLiteral("%1 s behind").arg(m_stopAfterNs / (1000 * msNs));
    }

    void stop(const QString &reason)
    {
        if (m_done)
            return;
        closeInterval();
        m_result.stopped = reason;
        finish();
    }

    void finish()
    {
        m_done = true;
        m_cancel = true;
        m_watchdog.stop();
        m_result.endNs = nowNs();
        m_finished();
    }

    VeltoTextView *m_view;
    // Every key goes to the caret, so the text it makes is the text before typing with what was
    // typed in place of what was erased before the caret: kept apart, so that the bench's own
    // bookkeeping moves no megabytes per key inside the keys' figures.
    const QString &m_text;
    const qsizetype m_start;
    QString m_typed;
    qsizetype m_erased = 0; // characters before m_start
    rusage m_usage {}; // the GUI thread's, at the end of the last key's interval
    qsizetype m_caret;
    std::vector<char> m_keys;
    qint64 m_intervalNs;
    qint64 m_stopAfterNs;
    const MemoryGuard &m_memory;
    qint64 m_t0 = 0;
    qint64 m_stopAtNs = 0;
    std::optional<qint64> m_intervalStart;
    TypingResult m_result;
    std::function<void()> m_finished;
    bool m_done = false;
    std::atomic<bool> m_cancel {false};
    std::thread m_poster;
    QTimer m_watchdog;
};

// ---- one document

QString ms(std::optional<qint64> ns)
{
    return ns ? QString::number(double(*ns) / msNs, 'f', 0) + QStringLiteral(" ms")
              : QStringLiteral("timed out");
}

QString ms1(qint64 ns)
{
    return QString::number(double(ns) / msNs, 'f', 1);
}

qint64 percentile(std::vector<qint64> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t rank = size_t(std::max(1.0, std::ceil(p * double(values.size()))));
    return values[std::min(rank, values.size()) - 1];
}

struct Outcome
{
    QString line;
    bool windowFailed = false; // the window or its preview did not come up
};

Outcome runDocument(const Document &doc, const Options &options, const MemoryGuard &memory)
{
    const qint64 timeoutNs = qint64(options.timeoutS) * 1000 * msNs;
    Window w;
    w.window = std::make_unique<MainWindow>(w.services.shell());
    w.window->resize(1100, 700);
    w.window->show();
    w.window->start();
    w.window->activateWindow();
    // The application as a user finds it before opening a file: the empty preview is up.
    if (!Waiter([&] { return w.previewCurrent(); })
             .on(w.preview() ? &w.preview()->controller() : nullptr, &PreviewController::ready)
             .run(nowNs() + timeoutNs)) {
        return {QStringLiteral("the preview did not come up within %1 s").arg(options.timeoutS),
                true};
    }
    idleFor(200);

    // Open: until the view holds the text and the loop went idle once; settled: the styles and
    // the preview are of that text too.
    const QUrl url = QUrl::fromLocalFile(doc.path);
    std::optional<bool> opened;
    std::optional<qint64> arrived;
    // Renderer deaths while the document is open (the preview reloads after one).
    int rendererCrashes = 0;
    if (w.preview()) {
        QObject::connect(w.preview()->page(), &QWebEnginePage::renderProcessTerminated,
                         w.window.get(),
                         [&rendererCrashes](QWebEnginePage::RenderProcessTerminationStatus s, int) {
                             if (s != QWebEnginePage::NormalTerminationStatus)
                                 ++rendererCrashes;
                         });
    }
    const qint64 openEpochMs = QDateTime::currentMSecsSinceEpoch();
    const qint64 openStart = nowNs();
    Waiter editable([&] {
        if (!arrived && w.workspace().selectedFileURL() == url && w.editorHoldsText()) {
            arrived = nowNs();
            BusyClock::watchIdle();
        }
        return (arrived && BusyClock::idleAt()) || opened == false;
    });
    editable.on(w.view(), &QPlainTextEdit::textChanged);
    QCoro::connect(w.workspace().openFile(url), w.window.get(), [&](bool ok) {
        opened = ok;
        editable.check();
    });
    const bool isEditable = editable.run(openStart + timeoutNs);
    if (opened == false)
        return {QStringLiteral("the file could not be opened")};
    if (!isEditable)
        return {QStringLiteral("open timed out after %1 s").arg(options.timeoutS)};
    const qint64 openNs = *BusyClock::idleAt() - openStart;
    std::optional<qint64> settledNs;
    Waiter settled([&] {
        if (w.controller()->isHighlightCurrent() && w.previewCurrent())
            settledNs = nowNs() - openStart;
        return settledNs.has_value();
    });
    settled.on(w.controller(), &EditorController::highlightApplied)
        .on(w.preview() ? &w.preview()->controller() : nullptr, &PreviewController::swapFinished)
        .run(nowNs() + timeoutNs);
    const double rssAfterOpen = statusMiB("VmRSS:");
    // The page notes when it first showed the visible part of this document drawn.
    std::optional<qint64> firstDrawnMs;
    if (w.preview() && settledNs) {
        std::optional<QVariant> drawn;
        w.preview()->page()->runJavaScript(QStringLiteral("window.__velto?__velto.firstDrawn:0"),
                                           [&drawn](const QVariant &v) { drawn = v; });
        Waiter([&] { return drawn.has_value(); }).run(nowNs() + timeoutNs);
        if (drawn && drawn->toLongLong() > 0)
            firstDrawnMs = drawn->toLongLong() - openEpochMs;
    }
    const benchsupport::WebEngineMemory webMemory = benchsupport::webEngineMemory();

    // The caret goes into the middle once; then the view and the preview may scroll there.
    QTextCursor cursor = w.view()->textCursor();
    cursor.setPosition(int(doc.caret));
    w.view()->setTextCursor(cursor);
    w.view()->setFocus(Qt::OtherFocusReason);
    Waiter([&] {
        return w.controller()->isHighlightCurrent() && w.previewCurrent();
    }).run(nowNs() + timeoutNs);
    idleFor(300);

    // A copy of its own, so the editor's buffers of earlier revisions are not held by the bench.
    const QString textBefore(w.workspace().text().constData(), w.workspace().text().size());
    const double rssBefore = statusMiB("VmRSS:");
    resetPeakRss();
    const double cpuBefore = processCpuSeconds();
    Typist typist(w.view(), textBefore,
                  w.controller()->workspaceOffset(w.view()->textCursor().position()),
                  plannedKeys(options.keys), qint64(options.intervalMs) * msNs, timeoutNs, memory);

    // After the last key: until the workspace has the typed text, the styles are of it and the
    // preview shows it, each on its own.
    struct Current
    {
        std::optional<qint64> text, highlight, preview;
    } current;
    // Checked first right after the last key, then whenever one of them may have changed; the
    // signals are connected before typing but cost nothing until the last key.
    qint64 lastKey = 0;
    Waiter settling([&] {
        if (!lastKey)
            return false;
        const qint64 since = nowNs() - lastKey;
        if (!current.text && typist.madeText(w.workspace().text()))
            current.text = since;
        if (!current.highlight && w.controller()->isHighlightCurrent())
            current.highlight = since;
        if (!current.preview && w.previewCurrent())
            current.preview = since;
        return current.text && current.highlight && current.preview;
    });
    settling.on(&w.workspace(), &WorkspaceState::textChanged)
        .on(w.controller(), &EditorController::highlightApplied)
        .on(w.preview() ? &w.preview()->controller() : nullptr, &PreviewController::swapFinished);
    Waiter typed([&] { return lastKey != 0; });
    typist.start([&] {
        lastKey = typist.result().endNs;
        settling.check();
        typed.check();
    });
    typed.run(nowNs() + qint64(options.keys) * options.intervalMs * msNs + 2 * timeoutNs, 0);
    settling.run((lastKey ? lastKey : nowNs()) + timeoutNs);
    idleFor(options.intervalMs + 10); // the last key's busy interval ends
    // The main process's CPU (all its threads, the web engine's browser side included) from the
    // first key until everything showed the last one.
    const double cpuTyping = processCpuSeconds() - cpuBefore;
    const double peak = statusMiB("VmHWM:");
    const double rssAfter = statusMiB("VmRSS:");

    const TypingResult &r = typist.result();
    QString keys = QStringLiteral("keys %1").arg(r.typed);
    if (!r.stopped.isEmpty())
        keys += QStringLiteral("/%1 (stopped: %2)").arg(options.keys).arg(r.stopped);
    QString textNote;
    if (!current.text) {
        textNote = QStringLiteral(" (workspace %1 units, typed text %2)")
                       .arg(w.workspace().text().size())
                       .arg(typist.expectedSize());
    }
    if (w.preview() && w.preview()->controller().showsNotice())
        textNote += QStringLiteral(" (the preview shows its notice)");

    const QString line
        = QStringLiteral("open %1 ms (settled %2) | %3 busy p50 %4 p99 %5 max %6 ms | "
                         "backlog max %7 ms, last key %8 ms | current after last key: "
                         "text %9, highlight %10, preview %11%12 | RSS +%13 MB peak "
                         "(after open %14 MB, after settling %15 MB)")
              .arg(openNs / msNs)
              .arg(ms(settledNs), keys, ms1(percentile(r.busyNs, 0.5)),
                   ms1(percentile(r.busyNs, 0.99)), ms1(percentile(r.busyNs, 1.0)))
              .arg(r.maxLatenessNs / msNs)
              .arg(r.lastLatenessNs / msNs)
              .arg(ms(current.text), ms(current.highlight), ms(current.preview), textNote)
              .arg(peak - rssBefore, 0, 'f', 0)
              .arg(rssAfterOpen, 0, 'f', 0)
              .arg(rssAfter, 0, 'f', 0)
        + QStringLiteral(" | main-process CPU while typing %6 s"
                         " | preview first drawn %1 | web engine after open %2 MB in %3 "
                         "processes (largest %4 MB) | renderer crashes %5")
              .arg(firstDrawnMs ? QString::number(*firstDrawnMs) + QStringLiteral(" ms")
                                : QStringLiteral("unknown"))
              .arg(webMemory.totalMiB, 0, 'f', 0)
              .arg(webMemory.processes)
              .arg(webMemory.largestMiB, 0, 'f', 0)
              .arg(rendererCrashes)
              .arg(cpuTyping, 0, 'f', 2);
    w.window->setClosesForReal(true);
    w.window.reset();
    idleFor(200);
    return {line};
}

std::optional<Options> parse(const QStringList &args)
{
    Options o;
    for (int i = 1; i < args.size(); ++i) {
        const QString &a = args[i];
        const QString value = args.value(i + 1);
        bool ok = true;
        if (a == u"--keys")
            o.keys = value.toInt(&ok);
        else if (a == u"--interval")
            o.intervalMs = value.toInt(&ok);
        else if (a == u"--timeout")
            o.timeoutS = value.toInt(&ok);
        else if (a == u"--max-rss")
            o.maxRssMiB = value.toInt(&ok);
        else if (a == u"--only")
            o.only = value.split(u',', Qt::SkipEmptyParts);
        else
            ok = false;
        if (!ok || i + 1 >= args.size() || o.keys < 1 || o.intervalMs < 1 || o.timeoutS < 1
            || o.maxRssMiB < 1)
            return std::nullopt;
        ++i;
    }
    return o;
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()).trimmed()
                                          : QStringLiteral("unknown");
}

// With VELTO_TYPING_TRACE set, every top-level event that keeps the GUI thread busy for more
// than 5 ms is printed with its receiver, to tell where a slow key's time went.
class TracingApplication : public QApplication
{
public:
    using QApplication::QApplication;

    bool notify(QObject *receiver, QEvent *event) override
    {
        static const bool trace = qEnvironmentVariableIsSet("VELTO_TYPING_TRACE");
        if (!trace || m_depth > 0)
            return QApplication::notify(receiver, event);
        ++m_depth;
        const int type = event->type();
        const char *name = receiver->metaObject()->className();
        const qint64 start = nowNs();
        const bool result = QApplication::notify(receiver, event);
        const double ms = double(nowNs() - start) / 1e6;
        --m_depth;
        if (ms > 5)
            std::printf("  event %d to %s: %.1f ms\n", type, name, ms);
        auto &entry = m_sums[QStringLiteral("%1/%2").arg(type).arg(QLatin1String(name))];
        entry.first += ms;
        ++entry.second;
        return result;
    }

    // Prints and clears the sums since the last call.
    void printSums()
    {
        for (auto it = m_sums.cbegin(); it != m_sums.cend(); ++it)
            if (it.value().first > 1)
                std::printf("    %s x%d %.1f ms\n", qPrintable(it.key()), it.value().second,
                            it.value().first);
        m_sums.clear();
    }

private:
    int m_depth = 0;
    QMap<QString, std::pair<double, int>> m_sums;
};

void printEventSums()
{
    static_cast<TracingApplication *>(QCoreApplication::instance())->printSums();
}

} // namespace

int main(int argc, char *argv[])
{
    restartWithHugePageHeap(argv); // as the application runs
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")
        && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    // Nothing of the user's: settings, caches and the web profile go to the test locations.
    QStandardPaths::setTestModeEnabled(true);
    PageSchemeHandler::registerScheme();
    TracingApplication app(argc, argv);
    VeltoApp::prepare(app);
    MarkdownDocument::registerExtensions();
    BusyClock::install();
    // The application's log lines go to standard error; standard output keeps the figures.
    setLogSink([](const QString &line) { std::fprintf(stderr, "%s\n", qPrintable(line)); });

    const std::vector<std::pair<QString, qint64>> documents = {
        {QStringLiteral("mixed-100K"), 100 * 1024},
        {QStringLiteral("mixed-1M"), 1024 * 1024},
        {QStringLiteral("mixed-5M"), 5 * 1024 * 1024},
        {QStringLiteral("headings-5M"), 5 * 1024 * 1024},
        {QStringLiteral("line-1M"), 1024 * 1024},
    };
    QStringList names;
    for (const auto &document : documents)
        names << document.first;
    const std::optional<Options> options = parse(QCoreApplication::arguments());
    const bool namesKnown = options
        && std::all_of(options->only.begin(), options->only.end(),
                       [&](const QString &name) { return names.contains(name); });
    if (!options || !namesKnown) {
        std::fprintf(stderr,
                     "usage: bench_typing [--keys N] [--interval ms] [--only name,name] "
                     "[--timeout s] [--max-rss MB]\n"
                     "documents: %s\n",
                     qPrintable(names.join(u',')));
        return 2;
    }
    QTemporaryDir folder;
    if (!folder.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    std::printf("typing benchmark: %d keys %d ms apart, platform %s, busy = %s; load %s\n",
                options->keys, options->intervalMs, qPrintable(QGuiApplication::platformName()),
                qPrintable(BusyClock::method()), qPrintable(loadAverage()));
    std::fflush(stdout);

    const MemoryGuard memory(options->maxRssMiB);
    bool failed = false;
    for (const auto &[name, bytes] : documents) {
        if (!options->only.isEmpty() && !options->only.contains(name)) {
            std::printf("%-12s skipped\n", qPrintable(name));
            std::fflush(stdout);
            continue;
        }
        const std::optional<Document> doc = writeDocument(folder.path(), name, bytes);
        const Outcome outcome = doc
            ? runDocument(*doc, *options, memory)
            : Outcome {QStringLiteral("could not write the document"), true};
        failed = failed || outcome.windowFailed;
        // What the document left behind goes back to the system, so the next one starts afresh.
        malloc_trim(0);
        std::printf("%-12s %s\n", qPrintable(name), qPrintable(outcome.line));
        std::fflush(stdout);
    }
    return failed ? 1 : 0;
}
