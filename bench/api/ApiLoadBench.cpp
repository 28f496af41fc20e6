// Drives an in-process API server (main thread) from 32 client threads over loopback. Each
// request opens its own connection, like wrk against a server that closes after every answer,
// so the figures include connect, accept and close.
#include "Velto/api/DebugServer.h"
#include "Velto/model/AppSettings.h"
#include "Velto/model/FilePanels.h"
#include "Velto/model/WorkspaceState.h"
#include "platform/Defaults.h"
#include "platform/Log.h"
#include "support/Ports.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int connections = 32;

class NoPanels : public FilePanels
{
public:
    void chooseOpenItem(const QString &, Completion c) override { c(std::nullopt); }
    void chooseSaveLocation(const QString &, Completion c) override { c(std::nullopt); }
};

struct Server
{
    Server()
        : defaults(dir.filePath(QStringLiteral("defaults.json")))
        , settings(defaults)
        , workspace(WorkspaceState::Services {nullptr, &defaults, &panels})
        , server(settings)
    {
        setLogSink([](const QString &) {});
        settings.setApiToken(QStringLiteral("bench-token-0123456789abcdefghij"));
        workspace.setText(QStringLiteral("# Notes\n\nA small document with a few words in it.\n"));
        server.setWorkspace(&workspace);
        port = testsupport::listenOnFreePort([this](quint16 candidate) {
            server.startListener(candidate);
            return server.activePort() == candidate;
        });
    }
    ~Server() { setLogSink({}); }

    QTemporaryDir dir;
    Defaults defaults;
    AppSettings settings;
    NoPanels panels;
    WorkspaceState workspace;
    DebugServer server;
    quint16 port = 0;
};

struct LoadResult
{
    std::vector<double> latenciesMs;
    long long errors = 0; // connect or read failures
    long long unexpected = 0; // answers with another status than expected
    double seconds = 0;
};

// One request on a fresh connection; returns the status, or 0 on a socket error.
int exchange(quint16 port, const QByteArray &request)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval tv {5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    int status = 0;
    if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0
        && ::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL)
            == ssize_t(request.size())) {
        char buffer[8192];
        QByteArray received;
        for (;;) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                if (n == 0 && received.startsWith("HTTP/1.1 "))
                    status = received.mid(9, 3).toInt();
                break;
            }
            received.append(buffer, n);
        }
    }
    ::close(fd);
    return status;
}

// Runs `total` requests over `connections` concurrent clients while the main thread serves.
LoadResult runLoad(Server &s, long long total, const QByteArray &request, int expected = 200)
{
    std::atomic<long long> next {0};
    std::atomic<int> running {connections};
    std::vector<std::vector<double>> latencies(connections);
    std::vector<long long> errors(connections, 0), unexpected(connections, 0);
    std::vector<std::thread> threads;
    QEventLoop loop;
    const auto start = Clock::now();
    for (int t = 0; t < connections; ++t) {
        threads.emplace_back([&, t] {
            while (next.fetch_add(1) < total) {
                const auto begin = Clock::now();
                const int status = exchange(s.port, request);
                latencies[t].push_back(
                    std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
                if (status == 0)
                    ++errors[t];
                else if (status != expected)
                    ++unexpected[t];
            }
            if (running.fetch_sub(1) == 1)
                QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
    }
    loop.exec();
    LoadResult result;
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    for (auto &t : threads)
        t.join();
    for (int t = 0; t < connections; ++t) {
        result.latenciesMs.insert(result.latenciesMs.end(), latencies[t].begin(),
                                  latencies[t].end());
        result.errors += errors[t];
        result.unexpected += unexpected[t];
    }
    std::sort(result.latenciesMs.begin(), result.latenciesMs.end());
    return result;
}

double percentile(const std::vector<double> &sorted, double p)
{
    if (sorted.empty())
        return 0;
    return sorted[std::min(sorted.size() - 1, size_t(p * double(sorted.size())))];
}

int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd"))
                   .entryList(QDir::NoDotAndDotDot | QDir::AllEntries)
                   .size());
}

double residentMB()
{
    long pages = 0, resident = 0;
    if (FILE *f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

QByteArray statusRequest(const QByteArray &token)
{
    return "GET /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer " + token
        + "\r\n\r\n";
}

void report(benchmark::State &state, const LoadResult &r)
{
    const double count = double(r.latenciesMs.size());
    state.counters["requests"] = count;
    state.counters["req_per_s"] = count / r.seconds;
    state.counters["p50_ms"] = percentile(r.latenciesMs, 0.50);
    state.counters["p90_ms"] = percentile(r.latenciesMs, 0.90);
    state.counters["p99_ms"] = percentile(r.latenciesMs, 0.99);
    state.counters["max_ms"] = r.latenciesMs.empty() ? 0 : r.latenciesMs.back();
    state.counters["socket_errors"] = double(r.errors);
    state.counters["unexpected_status"] = double(r.unexpected);
    state.SetIterationTime(r.seconds);
}

// Throughput and latency of GET /api/status with the right token (targets: ≥ 5,000 req/s,
// p99 ≤ 10 ms, no socket errors).
void BM_StatusLoad(benchmark::State &state)
{
    Server s;
    runLoad(s, 2000, statusRequest(s.settings.apiToken().toUtf8())); // warm-up
    for (auto _ : state)
        report(state, runLoad(s, state.range(0), statusRequest(s.settings.apiToken().toUtf8())));
}
BENCHMARK(BM_StatusLoad)->Arg(30000)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// A modified 1 MB document: the modified flag and the counts are derived once per text revision,
// so polling the status costs no more than on a small document (targets: ≥ 1,000 req/s under
// load; a single request under 1 ms). `single_*` is the latency of lone requests one after the
// other, connect and close included; `derive_once_ms` what the first request after an edit pays.
void BM_StatusModifiedMegabyte(benchmark::State &state)
{
    Server s;
    QString text;
    text.reserve(1'050'000);
    while (text.size() < 1'000'000)
        text += QStringLiteral(
            "Ein Absatz mit einigen W\u00f6rtern, \u00e9t\u00e9 und Zahlen 42.\n");
    s.workspace.setSavedText(text);
    s.workspace.setText(text + QStringLiteral("edited"));
    const QByteArray request = statusRequest(s.settings.apiToken().toUtf8());
    runLoad(s, 500, request); // warm-up, and the counts of this revision
    for (auto _ : state)
        report(state, runLoad(s, state.range(0), request));

    // Lone requests on a steady document: what a polling client sees.
    std::vector<double> single;
    for (int i = 0; i < 200; ++i) {
        std::atomic<bool> done {false};
        double ms = 0;
        std::thread client([&] {
            const auto begin = Clock::now();
            exchange(s.port, request);
            ms = std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
            done = true;
        });
        while (!done)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        client.join();
        single.push_back(ms);
    }
    std::sort(single.begin(), single.end());
    state.counters["single_p50_ms"] = percentile(single, 0.50);
    state.counters["single_p99_ms"] = percentile(single, 0.99);

    // What the first status after an edit pays once: deriving the new revision's values.
    s.workspace.setText(text + QStringLiteral("edited again"));
    const auto begin = Clock::now();
    benchmark::DoNotOptimize(s.workspace.isModified());
    benchmark::DoNotOptimize(s.workspace.charCount() + s.workspace.wordCount());
    state.counters["derive_once_ms"]
        = std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
}
BENCHMARK(BM_StatusModifiedMegabyte)
    ->Arg(10000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The refused path: a wrong token is answered 401 without routing.
void BM_UnauthorizedLoad(benchmark::State &state)
{
    Server s;
    for (auto _ : state) {
        report(state, runLoad(s, state.range(0), statusRequest("wrong-token"), 401));
    }
}
BENCHMARK(BM_UnauthorizedLoad)
    ->Arg(10000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Lock-out: the cap's worth of clients without the token send a complete head announcing a
// large body, a few bytes of it, and then stall without reading or closing. Authorised status
// calls made while they are held open must all be answered (`answered` of `calls`).
void BM_LockOut(benchmark::State &state)
{
    Server s;
    const int stalledCount = ApiLimits().maxConnections;
    const QByteArray stalledHead = "POST /api/document/content HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                   "Content-Length: 900000\r\n\r\n{\"content\":\"";
    for (auto _ : state) {
        std::vector<int> stalled;
        QEventLoop loop;
        std::thread opener([&] {
            for (int i = 0; i < stalledCount; ++i) {
                const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
                sockaddr_in addr {};
                addr.sin_family = AF_INET;
                addr.sin_port = htons(s.port);
                addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
                if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0)
                    ::send(fd, stalledHead.constData(), size_t(stalledHead.size()), MSG_NOSIGNAL);
                stalled.push_back(fd);
            }
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
        loop.exec();
        opener.join();
        // Let the server take in every stalled head before the calls start.
        QTimer::singleShot(200, &loop, &QEventLoop::quit);
        loop.exec();
        const int openBefore = s.server.openConnectionCount();
        const LoadResult r
            = runLoad(s, state.range(0), statusRequest(s.settings.apiToken().toUtf8()));
        report(state, r);
        state.counters["stalled"] = double(stalled.size());
        state.counters["open_before_calls"] = openBefore;
        state.counters["calls"] = double(r.latenciesMs.size());
        state.counters["answered"] = double(r.latenciesMs.size()) - double(r.errors + r.unexpected);
        for (int fd : stalled)
            ::close(fd);
    }
}
BENCHMARK(BM_LockOut)->Arg(100)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// Soak: 100,000 requests, then the descriptors and memory the server holds must be back where
// they started (no connection object or socket leaked).
void BM_StatusSoak(benchmark::State &state)
{
    Server s;
    runLoad(s, 2000, statusRequest(s.settings.apiToken().toUtf8()));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const int fdBefore = openDescriptors();
    const double rssBefore = residentMB();
    for (auto _ : state) {
        const LoadResult r
            = runLoad(s, state.range(0), statusRequest(s.settings.apiToken().toUtf8()));
        report(state, r);
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    state.counters["fd_before"] = fdBefore;
    state.counters["fd_after"] = openDescriptors();
    state.counters["open_connections"] = s.server.openConnectionCount();
    state.counters["rss_growth_MB"] = residentMB() - rssBefore;
}
BENCHMARK(BM_StatusSoak)
    ->Arg(100000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
