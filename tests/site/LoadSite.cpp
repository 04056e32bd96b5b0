// site_load BASE-URL STRINGS-FILE RATE SECONDS GOAL-RATE GOAL-P99-MS: offers one logon string
// per request to BASE-URL/cgi-bin/login.cgi at a steady RATE per second for SECONDS (an open
// loop: each request has its due time, and its latency counts from then, so a slow server
// cannot hide behind a slow client). Prints the rate achieved, the latencies and its verdict;
// exit status 0 when every answer was an acceptance, at least GOAL-RATE logons a second were
// accepted over the time to the last answer, and p99 stayed under GOAL-P99-MS.
// For scripts/load-site.sh; never shipped.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWorkers = 64;
constexpr int kAcceptedStatus = 303;
constexpr int kReceiveTimeoutSeconds = 10;

struct Result {
    int status = 0; // 0: no HTTP answer
    double milliseconds = 0;
};

// One request on a connection of its own; the HTTP status, or 0.
int Get(const sockaddr_in& server, const std::string& request)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    const timeval timeout{kReceiveTimeoutSeconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    std::string answer;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&server), sizeof server) == 0 &&
        send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
        char buffer[4096];
        for (ssize_t got; (got = recv(fd, buffer, sizeof buffer, 0)) > 0;)
            answer.append(buffer, static_cast<std::size_t>(got));
    }
    close(fd);
    int status = 0;
    return std::sscanf(answer.c_str(), "HTTP/1.%*d %d", &status) == 1 ? status : 0;
}

double Percentile(const std::vector<double>& sorted, double fraction)
{
    return sorted[std::min(sorted.size() - 1, static_cast<std::size_t>(fraction * static_cast<double>(sorted.size())))];
}

} // namespace

int main(int argc, char** argv)
{
    unsigned port = 0;
    if (argc != 7 || std::sscanf(argv[1], "http://127.0.0.1:%u", &port) != 1) {
        std::cerr << "usage: site_load http://127.0.0.1:PORT STRINGS-FILE RATE SECONDS GOAL-RATE GOAL-P99-MS\n";
        return 2;
    }
    const int rate = std::stoi(argv[3]);
    const int seconds = std::stoi(argv[4]);
    const double goalRate = std::stod(argv[5]);
    const double goalP99 = std::stod(argv[6]);
    std::vector<std::string> strings;
    std::ifstream file(argv[2]);
    for (std::string line; std::getline(file, line);)
        strings.push_back(line);
    const std::size_t total = static_cast<std::size_t>(rate) * static_cast<std::size_t>(seconds);
    if (rate <= 0 || seconds <= 0 || strings.size() < total) {
        std::cerr << "site_load: need RATE * SECONDS = " << total << " strings, have " << strings.size() << '\n';
        return 2;
    }

    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(static_cast<uint16_t>(port));
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

    std::vector<Result> results(total);
    std::atomic<std::size_t> next{0};
    const auto interval = std::chrono::nanoseconds(1'000'000'000 / rate);
    const Clock::time_point start = Clock::now() + std::chrono::milliseconds(100);
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w) {
        workers.emplace_back([&] {
            for (std::size_t i; (i = next++) < total;) {
                const Clock::time_point due = start + interval * static_cast<long>(i);
                std::this_thread::sleep_until(due);
                const std::string request = "GET /cgi-bin/login.cgi?Authenticate=" + strings[i] +
                                            " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
                const int status = Get(server, request);
                results[i] = {status, std::chrono::duration<double, std::milli>(Clock::now() - due).count()};
            }
        });
    }
    for (std::thread& worker : workers)
        worker.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();

    std::vector<double> latencies;
    std::size_t accepted = 0;
    for (const Result& result : results) {
        latencies.push_back(result.milliseconds);
        accepted += result.status == kAcceptedStatus;
    }
    std::sort(latencies.begin(), latencies.end());
    const std::size_t errors = total - accepted;
    // Over the time to the last answer: a server that falls behind stretches the run, and its
    // rate drops with it.
    const double achieved = static_cast<double>(accepted) / elapsed;
    const double p99 = Percentile(latencies, 0.99);
    std::printf("requests: %zu offered at %d/s for %d s, the last answered at %.2f s: %.1f accepted logons/s; "
                "accepted %zu, errors %zu\n",
                total, rate, seconds, elapsed, achieved, accepted, errors);
    std::printf("latency: p50 %.1f ms, p99 %.1f ms, max %.1f ms\n", Percentile(latencies, 0.50), p99, latencies.back());
    const bool met = errors == 0 && achieved >= goalRate && p99 < goalP99;
    std::printf("site_load: goal %s (at least %.0f accepted logons/s with no error, p99 under %.0f ms)\n",
                met ? "met" : "missed", goalRate, goalP99);
    return met ? 0 : 1;
}
