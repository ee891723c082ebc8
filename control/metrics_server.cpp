#include "control/metrics_server.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include "control/metrics_text.h"

namespace torvan {

namespace {

QByteArray Response(const char* status, const std::string& content_type, const std::string& body) {
  QByteArray r = "HTTP/1.1 ";
  r += status;
  r += "\r\nContent-Type: ";
  r += content_type.c_str();
  r += "\r\nContent-Length: ";
  r += QByteArray::number(qsizetype(body.size()));
  r += "\r\nConnection: close\r\n\r\n";
  r += QByteArray(body.data(), qsizetype(body.size()));
  return r;
}

// The end of the request header: the blank line, or -1 when it has not come yet.
qsizetype HeaderEnd(const QByteArray& b) {
  qsizetype crlf = b.indexOf("\r\n\r\n");
  qsizetype lf = b.indexOf("\n\n");
  if (crlf < 0) return lf;
  if (lf < 0) return crlf;
  return std::min(crlf, lf);
}

}  // namespace

class MetricsServer::Impl {
 public:
  Impl(std::function<std::string()> b, MetricsLimits l) : body(std::move(b)), limits(l) {
    QObject::connect(&server, &QTcpServer::newConnection, &server, [this] { Accept(); });
  }

  void Accept() {
    while (QTcpSocket* socket = server.nextPendingConnection()) {
      // The socket is the server's child: it goes with the server at the latest.
      QObject::connect(socket, &QObject::destroyed, &server, [this] { --open; });
      ++open;
      if (open > limits.max_connections) {
        socket->abort();
        socket->deleteLater();
        continue;
      }
      auto* idle = new QTimer(socket);
      idle->setSingleShot(true);
      QObject::connect(idle, &QTimer::timeout, socket, [socket] {
        socket->abort();
        socket->deleteLater();
      });
      idle->start(int(limits.idle.count()));
      auto request = std::make_shared<QByteArray>();
      auto answered = std::make_shared<bool>(false);
      QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, request, answered] {
        if (*answered) {
          socket->readAll();  // nothing more is read from a client once answered
          return;
        }
        request->append(socket->read(qint64(limits.max_request) + 1 - request->size()));
        const qsizetype end = HeaderEnd(*request);
        if (end < 0 && size_t(request->size()) <= limits.max_request) return;
        *answered = true;
        if (end < 0) {
          Answer(socket, "400 Bad Request", "richiesta troppo lunga\n");
          return;
        }
        const QByteArray line = request->left(request->indexOf('\n')).trimmed();
        const QList<QByteArray> parts = line.split(' ');
        QByteArray target = parts.size() == 3 ? parts[1] : QByteArray();
        if (const qsizetype q = target.indexOf('?'); q >= 0) target.truncate(q);
        if (parts.size() == 3 && parts[0] == "GET" && target == "/metrics" &&
            parts[2].startsWith("HTTP/")) {
          socket->write(Response("200 OK", kMetricsContentType, body()));
          socket->disconnectFromHost();
        } else {
          Answer(socket, "404 Not Found", "non trovato\n");
        }
      });
      QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
  }

  static void Answer(QTcpSocket* socket, const char* status, const std::string& text) {
    socket->write(Response(status, "text/plain; charset=utf-8", text));
    socket->disconnectFromHost();
  }

  std::function<std::string()> body;
  MetricsLimits limits;
  int open = 0;  // declared before the server: its sockets count down as the server goes
  QTcpServer server;
};

MetricsServer::MetricsServer(std::function<std::string()> body, MetricsLimits limits)
    : impl_(std::make_unique<Impl>(std::move(body), limits)) {}

MetricsServer::~MetricsServer() = default;

Status MetricsServer::Listen(uint16_t port, const std::string& address) {
  // The listener takes what the kernel queued at once; the limit applies as they are taken.
  impl_->server.setMaxPendingConnections(impl_->limits.max_connections);
  const QHostAddress host(QString::fromStdString(address));
  const std::string where = MetricsAuthority(address, port);
  if (host.isNull()) return Status::InvalidArgument(where + ": non \xE8 un indirizzo IP");
  if (impl_->server.listen(host, port)) return Status::Ok();
  return Status::IoError(where + ": " + impl_->server.errorString().toStdString());
}

std::string MetricsAuthority(const std::string& address, uint16_t port) {
  const bool v6 = address.find(':') != std::string::npos;
  return (v6 ? "[" + address + "]" : address) + ":" + std::to_string(port);
}

uint16_t MetricsServer::port() const {
  return impl_->server.isListening() ? impl_->server.serverPort() : 0;
}

int MetricsServer::connections() const { return impl_->open; }

}  // namespace torvan
