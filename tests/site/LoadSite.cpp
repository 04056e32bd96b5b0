// site_load PAGES STRINGS-FILE RATE SECONDS [OPTIONS]: offers one logon string per request to
// the login pages PAGES (http://127.0.0.1:PORT/PATH, several separated by commas: taken in
// turn) at a steady RATE per second for SECONDS (an open loop: each request has its due time,
// and its latency counts from then, so a slow server cannot hide behind a slow client). Each
// request comes from its own loopback address, as from many visitors, so no failure budget of
// one address is spent. Prints the run's start (Unix time, ms), the rate achieved, the
// latencies, the answers by status and its verdict. Options:
//   --answers FILE   per request "STATUS STRING DUE-MS LATENCY-MS RETRY-AFTER": STATUS 0 for no
//                    answer, DUE-MS the request's due time from the run's start, RETRY-AFTER the
//                    header's value or "-"
//   --goal-p99 MS    the goal: every answer an acceptance, at least 98 % of RATE accepted a
//                    second over the time to the last answer, p99 under MS (default: no p99 goal)
//   --figures FILE   one line "ACCEPTED-PER-SECOND P50-MS P99-MS ERRORS" for a table
// Exit status 0 when the goal was met. For scripts/load-site.sh and the tests' load runs;
// never shipped.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWorkers = 64;
constexpr int kAcceptedStatus = 303;
constexpr int kReceiveTimeoutSeconds = 10;

struct Answer {
    int status = 0; // 0: no HTTP answer
    std::string retryAfter = "-";
};

struct Result {
    Answer answer;
    double dueMilliseconds = 0;
    double milliseconds = 0;
};

// Source addresses 127.N.M.1: this many, each in a /24 network of its own.
constexpr uint32_t kSourceAddresses = 250 * 250;

struct Page {
    sockaddr_in server{};
    std::string path;
};

// http://127.0.0.1:PORT/PATH, or nothing.
std::optional<Page> ParsePage(const std::string& url)
{
    unsigned port = 0;
    int consumed = 0;
    if (std::sscanf(url.c_str(), "http://127.0.0.1:%u%n", &port, &consumed) != 1 || port == 0 || port > 65535 ||
        url.size() <= static_cast<std::size_t>(consumed) || url[static_cast<std::size_t>(consumed)] != '/')
        return std::nullopt;
    Page page;
    page.server.sin_family = AF_INET;
    page.server.sin_port = htons(static_cast<uint16_t>(port));
    page.server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    page.path = url.substr(static_cast<std::size_t>(consumed));
    return page;
}

// Comma-separated pages; nothing when one of them is not a page.
std::vector<Page> ParsePages(const std::string& list)
{
    std::vector<Page> pages;
    std::istringstream urls(list);
    for (std::string url; std::getline(urls, url, ',');) {
        const auto page = ParsePage(url);
        if (!page)
            return {};
        pages.push_back(*page);
    }
    return pages;
}

// The value of the answer's Retry-After header, or "-".
std::string RetryAfter(const std::string& answer)
{
    std::string lower(answer.substr(0, answer.find("\r\n\r\n")));
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    const std::string name = "\r\nretry-after:";
    const std::size_t at = lower.find(name);
    if (at == std::string::npos)
        return "-";
    const std::size_t start = answer.find_first_not_of(' ', at + name.size());
    const std::size_t end = answer.find("\r\n", at + name.size());
    return start < end ? answer.substr(start, end - start) : "-";
}

// One request on a connection of its own from source.
Answer Get(const sockaddr_in& server, const sockaddr_in& source, const std::string& request)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return {};
    const timeval timeout{kReceiveTimeoutSeconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    std::string answer;
    if (bind(fd, reinterpret_cast<const sockaddr*>(&source), sizeof source) == 0 &&
        connect(fd, reinterpret_cast<const sockaddr*>(&server), sizeof server) == 0 &&
        send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
        char buffer[4096];
        for (ssize_t got; (got = recv(fd, buffer, sizeof buffer, 0)) > 0;)
            answer.append(buffer, static_cast<std::size_t>(got));
    }
    close(fd);
    int status = 0;
    if (std::sscanf(answer.c_str(), "HTTP/1.%*d %d", &status) != 1)
        return {};
    return {status, RetryAfter(answer)};
}

double Percentile(const std::vector<double>& sorted, double fraction)
{
    return sorted[std::min(sorted.size() - 1, static_cast<std::size_t>(fraction * static_cast<double>(sorted.size())))];
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<Page> pages = argc >= 5 ? ParsePages(argv[1]) : std::vector<Page>{};
    std::map<std::string, std::string> options;
    for (int i = 5; i + 1 < argc; i += 2)
        options[argv[i]] = argv[i + 1];
    const bool known = std::all_of(options.begin(), options.end(), [](const auto& option) {
        return option.first == "--answers" || option.first == "--goal-p99" || option.first == "--figures";
    });
    if (pages.empty() || argc % 2 == 0 || !known) {
        std::cerr << "usage: site_load http://127.0.0.1:PORT/PATH[,...] STRINGS-FILE RATE SECONDS [--answers FILE]"
                     " [--goal-p99 MS] [--figures FILE]\n";
        return 2;
    }
    const int rate = std::stoi(argv[3]);
    const int seconds = std::stoi(argv[4]);
    std::vector<std::string> strings;
    std::ifstream file(argv[2]);
    for (std::string line; std::getline(file, line);)
        strings.push_back(line);
    const std::size_t total = static_cast<std::size_t>(rate) * static_cast<std::size_t>(seconds);
    if (rate <= 0 || seconds <= 0 || strings.size() < total) {
        std::cerr << "site_load: need RATE * SECONDS = " << total << " strings, have " << strings.size() << '\n';
        return 2;
    }

    std::vector<Result> results(total);
    std::atomic<std::size_t> next{0};
    const auto interval = std::chrono::nanoseconds(1'000'000'000 / rate);
    const Clock::time_point start = Clock::now() + std::chrono::milliseconds(100);
    // The same moment on the wall clock, for scripts that note when they did something to the
    // servers under load.
    const auto wallStart = std::chrono::system_clock::now() + std::chrono::milliseconds(100);
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w) {
        workers.emplace_back([&] {
            for (std::size_t i; (i = next++) < total;) {
                const Page& page = pages[i % pages.size()];
                const auto k = static_cast<uint32_t>(i % kSourceAddresses);
                sockaddr_in source{};
                source.sin_family = AF_INET;
                source.sin_addr.s_addr = htonl((127u << 24) | ((1 + k / 250) << 16) | ((k % 250) << 8) | 1u);
                const Clock::time_point due = start + interval * static_cast<long>(i);
                std::this_thread::sleep_until(due);
                const std::string request = "GET " + page.path + "?Authenticate=" + strings[i] +
                                            " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
                Answer answer = Get(page.server, source, request);
                results[i] = {std::move(answer), std::chrono::duration<double, std::milli>(due - start).count(),
                              std::chrono::duration<double, std::milli>(Clock::now() - due).count()};
            }
        });
    }
    for (std::thread& worker : workers)
        worker.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();

    std::vector<double> latencies;
    std::map<int, std::size_t> byStatus;
    for (const Result& result : results) {
        latencies.push_back(result.milliseconds);
        ++byStatus[result.answer.status];
    }
    std::sort(latencies.begin(), latencies.end());
    const std::size_t accepted = byStatus[kAcceptedStatus];
    const std::size_t errors = total - accepted;
    // The rate kept up is what was accepted over the time to the last answer, so answers that
    // came late lower it.
    const double achieved = static_cast<double>(accepted) / elapsed;
    const double p50 = Percentile(latencies, 0.50);
    const double p99 = Percentile(latencies, 0.99);
    std::printf("start: %lld ms of Unix time\n",
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(wallStart.time_since_epoch()).count()));
    std::printf("requests: %zu offered over %d s, the last answered at %.2f s; %.1f accepted logons/s; accepted %zu, "
                "errors %zu\n",
                total, seconds, elapsed, achieved, accepted, errors);
    std::printf("latency: p50 %.1f ms, p99 %.1f ms, max %.1f ms\n", p50, p99, latencies.back());
    std::printf("answers:");
    for (const auto& [status, count] : byStatus)
        std::printf(" %d x%zu", status, count);
    std::printf("\n");
    if (options.count("--answers")) {
        std::ofstream answers(options["--answers"]);
        for (std::size_t i = 0; i < total; ++i)
            answers << results[i].answer.status << ' ' << strings[i] << ' ' << results[i].dueMilliseconds << ' '
                    << results[i].milliseconds << ' ' << results[i].answer.retryAfter << '\n';
    }
    if (options.count("--figures"))
        std::ofstream(options["--figures"]) << achieved << ' ' << p50 << ' ' << p99 << ' ' << errors << '\n';
    // The last answer's own latency counts into the rate: 2 % leave room for it.
    const double goalRate = 0.98 * rate;
    const double goalP99 = options.count("--goal-p99") ? std::stod(options["--goal-p99"]) : 1e300;
    const bool met = errors == 0 && achieved >= goalRate && p99 < goalP99;
    if (options.count("--goal-p99"))
        std::printf("site_load: goal %s (at least %.0f accepted logons/s with no error, p99 under %.0f ms)\n",
                    met ? "met" : "missed", goalRate, goalP99);
    return met ? 0 : 1;
}
