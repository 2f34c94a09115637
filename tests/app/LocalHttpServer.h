#pragma once
#include <QByteArray>
#include <QList>
#include <QString>
#include <arpa/inet.h>
#include <atomic>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

// A loopback HTTP/1.0 server on its own thread: answers by path, records every request.
// A request target that is a full URL (a proxy request) is matched by its path as well.
class LocalHttpServer {
public:
    struct Reply {
        int status = 200;
        QByteArray body;
        bool hang = false; // accept and never answer
    };
    struct Request {
        QByteArray method, target, head, body;
    };

    LocalHttpServer()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
        ::listen(m_fd, 16);
        socklen_t len = sizeof a;
        ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&a), &len);
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { loop(); });
    }
    ~LocalHttpServer()
    {
        m_stop = true;
        m_thread.join();
        for (int fd : m_hung)
            ::close(fd);
        ::close(m_fd);
    }
    void route(const QByteArray &path, Reply r)
    {
        std::lock_guard<std::mutex> g(m_mutex);
        m_routes[path.toStdString()] = std::move(r);
    }
    quint16 port() const { return m_port; }
    QString base() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }
    std::vector<Request> requests() const
    {
        std::lock_guard<std::mutex> g(m_mutex);
        return m_requests;
    }

private:
    void loop()
    {
        while (!m_stop) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            const int c = ::accept(m_fd, nullptr, nullptr);
            if (c >= 0)
                serve(c);
        }
    }
    void serve(int c)
    {
        QByteArray in;
        char buf[4096];
        qsizetype headEnd = -1;
        qsizetype need = 0;
        for (;;) {
            if (headEnd >= 0 && in.size() >= headEnd + 4 + need)
                break;
            pollfd p{c, POLLIN, 0};
            if (::poll(&p, 1, 2000) <= 0)
                break;
            const ssize_t n = ::read(c, buf, sizeof buf);
            if (n <= 0)
                break;
            in.append(buf, n);
            if (headEnd < 0 && (headEnd = in.indexOf("\r\n\r\n")) >= 0) {
                const QByteArray head = in.left(headEnd).toLower();
                const qsizetype cl = head.indexOf("content-length:");
                if (cl >= 0)
                    need = head.mid(cl + 15, head.indexOf("\r\n", cl) - cl - 15).trimmed().toLongLong();
            }
        }
        Request r;
        const QByteArray head = in.left(headEnd);
        const QList<QByteArray> first = head.left(head.indexOf("\r\n")).split(' ');
        r.method = first.value(0);
        r.target = first.value(1);
        r.head = head;
        r.body = in.mid(headEnd + 4);
        QByteArray path = r.target;
        if (path.startsWith("http://"))
            path = path.mid(path.indexOf('/', 7));
        if (path.contains('?'))
            path = path.left(path.indexOf('?'));
        Reply reply{404, "not found", false};
        {
            std::lock_guard<std::mutex> g(m_mutex);
            m_requests.push_back(r);
            auto it = m_routes.find(path.toStdString());
            if (it != m_routes.end())
                reply = it->second;
        }
        if (reply.hang) {
            m_hung.push_back(c);
            return;
        }
        const QByteArray out =
            "HTTP/1.0 " + QByteArray::number(reply.status) +
            " X\r\nContent-Type: text/html\r\nContent-Length: " + QByteArray::number(reply.body.size()) +
            "\r\nConnection: close\r\n\r\n" + reply.body;
        ::send(c, out.constData(), size_t(out.size()), MSG_NOSIGNAL);
        ::close(c);
    }

    int m_fd = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::map<std::string, Reply> m_routes;
    std::vector<Request> m_requests;
    std::vector<int> m_hung;
};
