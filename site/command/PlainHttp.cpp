#include "site/command/PlainHttp.h"

#include <netdb.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <stdexcept>

namespace {

constexpr int kTimeoutSeconds = 10;
// The status line and headers end within this much, or the answer is not one.
constexpr std::size_t kMostHeadBytes = 16 * 1024;

class Socket {
public:
    explicit Socket(int descriptor) : m_descriptor(descriptor) {}
    ~Socket()
    {
        if (m_descriptor >= 0)
            close(m_descriptor);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int Get() const { return m_descriptor; }

private:
    int m_descriptor;
};

class AddressList {
public:
    explicit AddressList(addrinfo* list) : m_list(list) {}
    ~AddressList() { freeaddrinfo(m_list); }
    AddressList(const AddressList&) = delete;
    AddressList& operator=(const AddressList&) = delete;
    const addrinfo* begin() const { return m_list; }

private:
    addrinfo* m_list;
};

std::string Lower(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

int Connect(const HttpUrl& url)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (const int error = getaddrinfo(url.host.c_str(), url.port.c_str(), &hints, &found); error != 0)
        throw std::runtime_error("cannot find " + url.host + ": " + gai_strerror(error));
    const AddressList addresses(found);
    std::string problem = "no address";
    for (const addrinfo* address = addresses.begin(); address; address = address->ai_next) {
        const int descriptor = socket(address->ai_family, address->ai_socktype | SOCK_CLOEXEC, address->ai_protocol);
        if (descriptor < 0)
            continue;
        // On Linux these bound connect, send and each read alike.
        const timeval timeout{kTimeoutSeconds, 0};
        setsockopt(descriptor, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        setsockopt(descriptor, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        if (connect(descriptor, address->ai_addr, address->ai_addrlen) == 0)
            return descriptor;
        problem = std::strerror(errno);
        close(descriptor);
    }
    throw std::runtime_error("cannot connect to " + url.host + " port " + url.port + ": " + problem);
}

void SendAll(int descriptor, std::string_view text)
{
    while (!text.empty()) {
        const ssize_t sent = send(descriptor, text.data(), text.size(), MSG_NOSIGNAL);
        if (sent <= 0)
            throw std::runtime_error(std::string("cannot send the request: ") + std::strerror(errno));
        text.remove_prefix(static_cast<std::size_t>(sent));
    }
}

// Up to the end of the head and kMostBodyBytes of body: a server sending a whole program need
// not be read to its end.
std::string ReceiveAnswer(int descriptor)
{
    std::string text;
    char buffer[8192];
    for (;;) {
        const ssize_t got = recv(descriptor, buffer, sizeof buffer, 0);
        if (got < 0)
            throw std::runtime_error(std::string("no answer: ") + std::strerror(errno));
        if (got == 0)
            return text;
        text.append(buffer, static_cast<std::size_t>(got));
        const std::size_t head = text.find("\r\n\r\n");
        if (head != std::string::npos && text.size() >= head + 4 + kMostBodyBytes)
            return text;
        if (head == std::string::npos && text.size() > kMostHeadBytes)
            return text;
    }
}

} // namespace

std::optional<HttpUrl> ParseHttpUrl(std::string_view text)
{
    constexpr std::string_view scheme = "http://";
    if (!text.starts_with(scheme) || text.find_first_of("?#") != std::string_view::npos)
        return std::nullopt;
    text.remove_prefix(scheme.size());
    const std::size_t slash = text.find('/');
    if (slash == std::string_view::npos)
        return std::nullopt;
    HttpUrl url{"", "80", std::string(text.substr(slash))};
    std::string_view authority = text.substr(0, slash);
    if (authority.starts_with('[')) {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos)
            return std::nullopt;
        url.host = authority.substr(1, close - 1);
        authority.remove_prefix(close + 1);
    } else {
        url.host = authority.substr(0, authority.find(':'));
        authority.remove_prefix(url.host.size());
    }
    if (authority.starts_with(':'))
        url.port = authority.substr(1);
    else if (!authority.empty())
        return std::nullopt;
    const bool digits = !url.port.empty() && url.port.size() <= 5 &&
                        std::all_of(url.port.begin(), url.port.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (url.host.empty() || !digits)
        return std::nullopt;
    return url;
}

std::optional<std::string> HttpAnswer::Header(std::string_view name) const
{
    for (const auto& [key, value] : headers) {
        if (key == name)
            return value;
    }
    return std::nullopt;
}

std::optional<HttpAnswer> ParseHttpAnswer(std::string_view text)
{
    const std::size_t headEnd = text.find("\r\n\r\n");
    if (!text.starts_with("HTTP/1.") || headEnd == std::string_view::npos)
        return std::nullopt;
    HttpAnswer answer;
    std::string_view head = text.substr(0, headEnd + 2);
    const std::size_t space = head.find(' ');
    if (space == std::string_view::npos || head.size() < space + 4)
        return std::nullopt;
    const auto [end, error] = std::from_chars(head.data() + space + 1, head.data() + space + 4, answer.status);
    if (error != std::errc() || end != head.data() + space + 4)
        return std::nullopt;
    head.remove_prefix(head.find("\r\n") + 2);
    for (std::size_t lineEnd; (lineEnd = head.find("\r\n")) != std::string_view::npos;
         head.remove_prefix(lineEnd + 2)) {
        const std::string_view line = head.substr(0, lineEnd);
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            return std::nullopt;
        answer.headers.emplace_back(Lower(Trim(line.substr(0, colon))), std::string(Trim(line.substr(colon + 1))));
    }
    answer.body = text.substr(headEnd + 4, kMostBodyBytes);
    return answer;
}

HttpAnswer Fetch(const HttpUrl& url, std::string_view method, std::string_view target, std::string_view cookie)
{
    const Socket connection(Connect(url));
    const bool bare = url.host.find(':') == std::string::npos;
    std::string request = std::string(method) + " " + std::string(target) +
                          " HTTP/1.0\r\nHost: " + (bare ? url.host : "[" + url.host + "]") + ":" + url.port + "\r\n";
    if (!cookie.empty())
        request += "Cookie: " + std::string(cookie) + "\r\n";
    if (method == "POST")
        request += "Content-Length: 0\r\n";
    SendAll(connection.Get(), request + "\r\n");
    const auto answer = ParseHttpAnswer(ReceiveAnswer(connection.Get()));
    if (!answer)
        throw std::runtime_error("the answer is not HTTP");
    return *answer;
}
