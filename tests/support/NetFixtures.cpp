#include "support/NetFixtures.h"

// system
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace wltest {

namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in Loopback(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

bool SendAll(int fd, const char* p, std::size_t n)
{
    while (n > 0) {
        ssize_t k = ::send(fd, p, n, MSG_NOSIGNAL);
        if (k < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN) {
                pollfd pfd{fd, POLLOUT, 0};
                ::poll(&pfd, 1, 1000);
                continue;
            }
            return false;
        }
        p += k;
        n -= static_cast<std::size_t>(k);
    }
    return true;
}

// Announced body length in a request header, 0 when none.
std::size_t RequestBodyLength(const std::string& header)
{
    std::string lower = header;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string::size_type p = lower.find("\r\ncontent-length:");
    if (p == std::string::npos)
        return 0;
    return static_cast<std::size_t>(std::strtoull(lower.c_str() + p + 17, nullptr, 10));
}

}  // namespace

int FreePort()
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(0);
    int port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        socklen_t len = sizeof a;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
            port = ntohs(a.sin_port);
    }
    if (fd >= 0)
        ::close(fd);
    return port;
}

bool WaitListening(int port, std::chrono::milliseconds timeout)
{
    auto end = Clock::now() + timeout;
    do {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = Loopback(port);
        bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        ::close(fd);
        if (ok)
            return true;
        // Nothing to be notified of while a child starts up: poll at a modest rate.
        ::poll(nullptr, 0, 10);
    } while (Clock::now() < end);
    return false;
}

int OpenDescriptorCount()
{
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (dirent* e = ::readdir(d))
            if (e->d_name[0] != '.')
                ++n;
        ::closedir(d);
        --n; // the directory stream itself
    }
    return n;
}

// ---------------------------------------------------------------------------

TTempDir::TTempDir()
{
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/wltest-XXXXXX";
    if (::mkdtemp(tmpl.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    fPath = tmpl;
}

TTempDir::~TTempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(fPath, ec);
}

std::string TTempDir::WriteFile(const std::string& relative, const std::string& data) const
{
    std::filesystem::path p = std::filesystem::path(fPath) / relative;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    return p.string();
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// ---------------------------------------------------------------------------

TScript& TScript::ReadRequest()
{
    steps.push_back({TStep::Read, {}, {}});
    return *this;
}

TScript& TScript::Send(std::string bytes)
{
    steps.push_back({TStep::Send, std::move(bytes), {}});
    return *this;
}

TScript& TScript::Trickle(std::string bytes, std::size_t piece, std::chrono::milliseconds gap)
{
    for (std::size_t i = 0; i < bytes.size(); i += piece) {
        if (i > 0)
            Pause(gap);
        Send(bytes.substr(i, piece));
    }
    return *this;
}

TScript& TScript::Pause(std::chrono::milliseconds gap)
{
    steps.push_back({TStep::Pause, {}, gap});
    return *this;
}

TScript& TScript::Hold()
{
    steps.push_back({TStep::Hold, {}, {}});
    return *this;
}

TScript& TScript::Reset()
{
    steps.push_back({TStep::Reset, {}, {}});
    return *this;
}

std::string TScript::Response(const std::string& statusLine, const std::vector<std::string>& headers,
                              const std::string& body)
{
    std::string r = statusLine + "\r\n";
    for (const std::string& h : headers)
        r += h + "\r\n";
    return r + "\r\n" + body;
}

TScriptedServer::TScriptedServer(std::vector<TScript> scripts) : fScripts(std::move(scripts))
{
    fListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(fListen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a = Loopback(0);
    if (::bind(fListen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fListen, 16) != 0)
        throw std::runtime_error("scripted server: cannot listen");
    socklen_t len = sizeof a;
    ::getsockname(fListen, reinterpret_cast<sockaddr*>(&a), &len);
    fPort = ntohs(a.sin_port);
    if (::pipe2(fWake, O_CLOEXEC) != 0)
        throw std::runtime_error("scripted server: pipe");
    fThread = std::thread([this] { Run(); });
}

TScriptedServer::~TScriptedServer()
{
    {
        std::lock_guard<std::mutex> lock(fMutex);
        fStop = true;
    }
    char c = 'x';
    (void)!::write(fWake[1], &c, 1);
    fThread.join();
    ::close(fListen);
    ::close(fWake[0]);
    ::close(fWake[1]);
}

std::string TScriptedServer::Url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(fPort) + path;
}

int TScriptedServer::Connections() const
{
    std::lock_guard<std::mutex> lock(fMutex);
    return static_cast<int>(fReceived.size());
}

std::string TScriptedServer::Received(int i) const
{
    std::lock_guard<std::mutex> lock(fMutex);
    return i >= 0 && i < static_cast<int>(fReceived.size()) ? fReceived[i] : std::string();
}

bool TScriptedServer::WaitFinished(int i, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(fMutex);
    return fCond.wait_for(lock, timeout, [&] { return i < static_cast<int>(fFinished.size()) && fFinished[i]; });
}

bool TScriptedServer::WaitAccepted(int count, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(fMutex);
    return fCond.wait_for(lock, timeout, [&] { return static_cast<int>(fReceived.size()) >= count; });
}

void TScriptedServer::Run()
{
    for (;;) {
        pollfd p[2] = {{fListen, POLLIN, 0}, {fWake[0], POLLIN, 0}};
        if (::poll(p, 2, -1) < 0 && errno != EINTR)
            return;
        if (p[1].revents)
            return;
        if (!(p[0].revents & POLLIN))
            continue;
        int fd = ::accept4(fListen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        int index;
        {
            std::lock_guard<std::mutex> lock(fMutex);
            index = static_cast<int>(fReceived.size());
            fReceived.emplace_back();
            fFinished.push_back(false);
        }
        fCond.notify_all();
        const TScript& script = fScripts.empty() ? TScript() : fScripts[std::min<std::size_t>(index, fScripts.size() - 1)];
        Serve(fd, script, index);
        {
            std::lock_guard<std::mutex> lock(fMutex);
            fFinished[index] = true;
        }
        fCond.notify_all();
        std::lock_guard<std::mutex> lock(fMutex);
        if (fStop)
            return;
    }
}

// Reads what is there (waiting up to timeout for something); false at the
// peer's close, an error, or when the server is stopping.
bool TScriptedServer::ReadSome(int fd, int index, std::chrono::milliseconds timeout)
{
    pollfd p[2] = {{fd, POLLIN, 0}, {fWake[0], POLLIN, 0}};
    int rc = ::poll(p, 2, static_cast<int>(timeout.count()));
    if (rc <= 0)
        return rc == 0;
    if (p[1].revents)
        return false;
    char buf[16384];
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0)
        return false;
    std::lock_guard<std::mutex> lock(fMutex);
    fReceived[index].append(buf, static_cast<std::size_t>(n));
    return true;
}

void TScriptedServer::Serve(int fd, const TScript& script, int index)
{
    bool reset = false;
    std::size_t taken = 0;  // requests read so far end here: a connection may carry several
    for (const TScript::TStep& step : script.steps) {
        if (step.kind == TScript::TStep::Read) {
            auto end = Clock::now() + 10s;
            for (;;) {
                std::string got = Received(index).substr(taken);
                std::string::size_type h = got.find("\r\n\r\n");
                const std::size_t whole = h == std::string::npos ? 0 : h + 4 + RequestBodyLength(got.substr(0, h + 2));
                if (h != std::string::npos && got.size() >= whole) {
                    taken += whole;
                    break;
                }
                if (Clock::now() > end || !ReadSome(fd, index, 100ms))
                    break;
            }
        } else if (step.kind == TScript::TStep::Send) {
            if (!SendAll(fd, step.data.data(), step.data.size()))
                break;
        } else if (step.kind == TScript::TStep::Pause) {
            std::this_thread::sleep_for(step.gap);
        } else if (step.kind == TScript::TStep::Hold) {
            while (ReadSome(fd, index, 100ms)) {
            }
        } else if (step.kind == TScript::TStep::Reset) {
            reset = true;
        }
    }
    if (reset) {
        linger l{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    } else {
        ::shutdown(fd, SHUT_WR);
        // Take what the client still sends until it closes too, so our close
        // never turns into a reset because of unread bytes.
        auto end = Clock::now() + 2s;
        while (Clock::now() < end && ReadSome(fd, index, 100ms)) {
        }
    }
    ::close(fd);
}

// ---------------------------------------------------------------------------

bool TChildProcess::Start(const std::vector<std::string>& argv, const std::string& outputFile)
{
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t parent = ::getpid();
    fPid = ::fork();
    if (fPid < 0)
        return false;
    if (fPid == 0) {
        // A test process that dies without its destructors must not leave the
        // server running: SIGTERM lets nginx take its workers down with it.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(1);
        int out = ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out >= 0) {
            ::dup2(out, 1);
            ::dup2(out, 2);
        }
        int in = ::open("/dev/null", O_RDONLY);
        if (in >= 0)
            ::dup2(in, 0);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    return true;
}

bool TChildProcess::Running()
{
    if (fPid <= 0)
        return false;
    int status;
    if (::waitpid(fPid, &status, WNOHANG) == fPid) {
        fPid = -1;
        return false;
    }
    return true;
}

void TChildProcess::Stop()
{
    if (fPid <= 0)
        return;
    ::kill(fPid, SIGTERM);
    int status;
    auto end = Clock::now() + 5s;
    while (::waitpid(fPid, &status, WNOHANG) == 0) {
        if (Clock::now() > end) {
            ::kill(fPid, SIGKILL);
            ::waitpid(fPid, &status, 0);
            break;
        }
        ::poll(nullptr, 0, 10);
    }
    fPid = -1;
}

// ---------------------------------------------------------------------------

TNginx::TNginx(const std::string& extraServer, const std::string& extraHttp)
{
    const std::string dir = fDir.Path();
    std::filesystem::create_directories(dir + "/www");
    for (int attempt = 0; attempt < 3 && !fOk; ++attempt) {
        fPort = FreePort();
        std::ostringstream conf;
        // A root master hands workers to "nobody", who cannot enter our private dirs.
        if (::geteuid() == 0)
            conf << "user root;\n";
        conf << "worker_processes 1;\n"
             << "pid " << dir << "/nginx.pid;\n"
             << "error_log " << dir << "/error.log;\n"
             << "events { worker_connections 512; }\n"
             << "http {\n"
             << "  log_format wl '$request|$http_host|$http_authorization';\n"
             << "  access_log " << dir << "/access.log wl;\n"
             << "  client_body_temp_path " << dir << "/tmp_body;\n"
             << "  proxy_temp_path " << dir << "/tmp_proxy;\n"
             << "  fastcgi_temp_path " << dir << "/tmp_fastcgi;\n"
             << "  uwsgi_temp_path " << dir << "/tmp_uwsgi;\n"
             << "  scgi_temp_path " << dir << "/tmp_scgi;\n"
             << "  types { text/html html htm; image/gif gif; image/jpeg jpg jpeg; image/png png; text/plain txt; }\n"
             << "  default_type application/octet-stream;\n"
             << "  server {\n"
             << "    listen 127.0.0.1:" << fPort << ";\n"
             << "    root " << dir << "/www;\n"
             << "    " << extraServer << "\n"
             << "  }\n"
             << extraHttp << "\n"
             << "}\n";
        fDir.WriteFile("nginx.conf", conf.str());
        if (!fChild.Start({"nginx", "-c", dir + "/nginx.conf", "-p", dir, "-g", "daemon off;"}, dir + "/nginx.out")) {
            fError = "cannot start nginx";
            return;
        }
        auto end = Clock::now() + 10s;
        while (Clock::now() < end && fChild.Running()) {
            if (WaitListening(fPort, 100ms)) {
                fOk = true;
                break;
            }
        }
        if (!fOk) {
            fChild.Stop();
            fError = "nginx did not start: " + ReadFile(dir + "/error.log") + ReadFile(dir + "/nginx.out");
        }
    }
}

TNginx::~TNginx()
{
    fChild.Stop();
}

std::string TNginx::Url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(fPort) + path;
}

std::string TNginx::WriteDoc(const std::string& relative, const std::string& data) const
{
    return fDir.WriteFile("www/" + relative, data);
}

std::string TNginx::AccessLog() const
{
    return ReadFile(fDir.Path() + "/access.log");
}

namespace {

std::string LogWhen(const TNginx& nginx, const std::function<bool(const std::string&)>& ready,
                    std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::string log = nginx.AccessLog();
    while (!ready(log) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        log = nginx.AccessLog();
    }
    return log;
}

}  // namespace

std::string TNginx::AccessLogOf(std::size_t lines, std::chrono::milliseconds limit) const
{
    return LogWhen(
        *this, [lines](const std::string& log) { return std::count(log.begin(), log.end(), '\n') >= static_cast<std::ptrdiff_t>(lines); },
        limit);
}

std::string TNginx::AccessLogWith(const std::string& text, std::chrono::milliseconds limit) const
{
    return LogWhen(*this, [&text](const std::string& log) { return log.find(text) != std::string::npos; }, limit);
}

TTinyproxy::TTinyproxy(const std::string& user, const std::string& password)
{
    const std::string dir = fDir.Path();
    for (int attempt = 0; attempt < 3 && !fOk; ++attempt) {
        fPort = FreePort();
        std::ostringstream conf;
        conf << "Port " << fPort << "\n"
             << "Listen 127.0.0.1\n"
             << "Timeout 30\n"
             << "MaxClients 50\n"
             << "LogFile \"" << dir << "/tinyproxy.log\"\n"
             << "LogLevel Info\n"
             << "PidFile \"" << dir << "/tinyproxy.pid\"\n"
             << "Allow 127.0.0.1\n";
        if (!user.empty())
            conf << "BasicAuth " << user << " " << password << "\n";
        fDir.WriteFile("tinyproxy.conf", conf.str());
        if (!fChild.Start({"tinyproxy", "-d", "-c", dir + "/tinyproxy.conf"}, dir + "/tinyproxy.out")) {
            fError = "cannot start tinyproxy";
            return;
        }
        auto end = Clock::now() + 10s;
        while (Clock::now() < end && fChild.Running()) {
            if (WaitListening(fPort, 100ms)) {
                fOk = true;
                break;
            }
        }
        if (!fOk) {
            fChild.Stop();
            fError = "tinyproxy did not start: " + ReadFile(dir + "/tinyproxy.out");
        }
    }
}

TTinyproxy::~TTinyproxy()
{
    fChild.Stop();
}

// ---------------------------------------------------------------------------

TTestPki::TTestPki()
{
    const std::string d = fDir.Path();
    // openssl ca sets any validity period, also one that ended long ago.
    fDir.WriteFile("ca.cnf", "[ ca ]\ndefault_ca = testca\n"
                             "[ testca ]\n"
                             "database = " + d + "/index.txt\n"
                             "new_certs_dir = " + d + "/newcerts\n"
                             "serial = " + d + "/serial\n"
                             "default_md = sha256\n"
                             "policy = anything\n"
                             "copy_extensions = copy\n"
                             "unique_subject = no\n"
                             "[ anything ]\ncommonName = supplied\n");
    fDir.WriteFile("index.txt", "");
    fDir.WriteFile("serial", "1000\n");
    std::filesystem::create_directories(d + "/newcerts");
    const std::string ec = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    const std::string san = "-addext subjectAltName=DNS:localhost,IP:127.0.0.1";
    const std::string sign = "openssl ca -batch -notext -config ca.cnf -cert ca.pem -keyfile ca.key";
    const std::string script =
        "set -e\ncd '" + d + "'\n"
        "openssl req -x509 " + ec + " -keyout ca.key -out ca.pem -days 3650 -subj '/CN=WL Test CA'\n"
        "openssl req " + ec + " -keyout server.key -out good.csr -subj '/CN=localhost' " + san + "\n"
        "openssl req -new -key server.key -out other.csr -subj '/CN=other.example' "
        "-addext subjectAltName=DNS:other.example\n"
        + sign + " -in good.csr -out good.pem -days 30\n"
        + sign + " -in good.csr -out expired.pem -startdate 20200101000000Z -enddate 20210101000000Z\n"
        + sign + " -in other.csr -out other.pem -days 30\n"
        "openssl req -x509 -key server.key -out self.pem -days 30 -subj '/CN=localhost' " + san + "\n";
    fDir.WriteFile("make.sh", script);
    const std::string cmd = "sh '" + d + "/make.sh' > '" + d + "/make.log' 2>&1";
    fOk = std::system(cmd.c_str()) == 0;
    if (!fOk)
        fError = "openssl failed: " + ReadFile(d + "/make.log");
}

std::string TTestPki::CertFile(TKind kind) const
{
    static const char* const kNames[] = {"good.pem", "expired.pem", "other.pem", "self.pem"};
    return fDir.Path() + "/" + kNames[kind];
}

std::string TTestPki::NginxServer(int port, TKind kind, const std::string& root, const std::string& extra) const
{
    return "  server {\n    listen 127.0.0.1:" + std::to_string(port) + " ssl;\n    ssl_certificate " +
           CertFile(kind) + ";\n    ssl_certificate_key " + KeyFile() + ";\n    root " + root + ";\n    " +
           extra + "\n  }\n";
}

}  // namespace wltest
