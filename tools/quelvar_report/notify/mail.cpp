// A mail through the system's sendmail (Postfix, Exim or bsd-mailx's
// interface): `sendmail -t -oi` reads the recipients from the To header, so
// the address never reaches a command line, and is checked so that it
// cannot add a header either.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "quelvar_report/notify/channels.h"
#include "quelvar_report/notify/text.h"

extern char** environ;

namespace quelvar::report {

namespace {

bool isLetterOrDigit(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

std::string mailText(const std::string& address, const Message& message) {
    const std::string& subject = message.subject.empty() ? message.text : message.subject;
    std::string body = validUtf8(message.text);
    if (body.empty() || body.back() != '\n') body += '\n';
    // Base64 keeps any line of any length intact through every relay;
    // Auto-Submitted keeps vacation replies from answering an alert.
    return "To: " + address + "\nSubject: " + encodedWords(subject) +
           "\nMIME-Version: 1.0\nContent-Type: text/plain; charset=UTF-8\nContent-Transfer-Encoding: base64\n"
           "Auto-Submitted: auto-generated\n\n" +
           base64(body, 76);
}

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { close(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

Status mailError(Status::Code code, const std::string& address, std::string reason, int number = 0) {
    return Status::error(code, "mail", address, std::move(reason), number);
}

}  // namespace

std::string addressProblem(std::string_view address) {
    if (address.empty()) return "no address";
    if (address.front() == '-') return "an address cannot start with '-'";
    const std::size_t at = address.find('@');
    const std::string_view local = address.substr(0, at);
    // The dot-atom of RFC 5322: no blanks, quotes, commas or angle brackets,
    // nothing that could end a header or name a second address.
    constexpr std::string_view atext = "!#$%&'*+-/=?^_`{|}~.";
    if (local.empty()) return "no user before '@'";
    for (const char c : local)
        if (!isLetterOrDigit(c) && atext.find(c) == std::string_view::npos)
            return "not one plain address (user@example.com)";
    if (at == std::string_view::npos) return "";
    const std::string_view domain = address.substr(at + 1);
    if (domain.empty() || domain.front() == '-' || domain.front() == '.' || domain.back() == '.')
        return "no domain after '@'";
    for (const char c : domain)
        if (!isLetterOrDigit(c) && c != '-' && c != '.') return "not one plain address (user@example.com)";
    return "";
}

Status sendMail(const std::string& address, const Message& message, const DeliveryOptions& options) {
    using Clock = std::chrono::steady_clock;
    if (const std::string problem = addressProblem(address); !problem.empty())
        return mailError(Status::Code::damaged, address, problem);
    const long timeout = std::clamp(options.timeoutSeconds, 1L, 86400L);
    const auto deadline = Clock::now() + std::chrono::seconds(timeout);
    const std::string text = mailText(address, message);

    int input[2], output[2];
    if (pipe2(input, O_CLOEXEC) != 0) return mailError(Status::Code::failed, address, std::strerror(errno), errno);
    Fd inputRead(input[0]), inputWrite(input[1]);
    if (pipe2(output, O_CLOEXEC) != 0) return mailError(Status::Code::failed, address, std::strerror(errno), errno);
    Fd outputRead(output[0]), outputWrite(output[1]);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, inputRead.get(), 0);
    posix_spawn_file_actions_adddup2(&actions, outputWrite.get(), 1);
    posix_spawn_file_actions_adddup2(&actions, outputWrite.get(), 2);
    // Nothing else of this program's (the index, a lock) reaches it.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    // The child starts with no signal blocked and SIGPIPE as usual.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, pipeSignal;
    sigemptyset(&none);
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &pipeSignal);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    std::string program = options.sendmail;
    std::string t = "-t", oi = "-oi";
    char* arguments[] = {program.data(), t.data(), oi.data(), nullptr};
    pid_t child = 0;
    const int spawned = posix_spawn(&child, program.c_str(), &actions, &attributes, arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0)
        return Status::error(spawned == ENOENT ? Status::Code::notFound : Status::Code::unavailable, "run",
                             options.sendmail, std::strerror(spawned), spawned);
    inputRead.close();
    outputWrite.close();
    fcntl(inputWrite.get(), F_SETFL, O_NONBLOCK);
    fcntl(outputRead.get(), F_SETFL, O_NONBLOCK);
    // Its end is seen on a pidfd where the kernel has them; otherwise it is
    // looked for every few milliseconds: a sendmail may leave a helper
    // holding its output open after it exited.
    Fd exited(static_cast<int>(syscall(SYS_pidfd_open, child, 0)));

    SigpipeHeld held;
    std::size_t written = 0;
    std::string said;  // what it printed, for the error
    int waitStatus = 0;
    bool done = false;
    bool timedOut = false;
    bool unread = false;  // it stopped reading before the end
    int failure = 0;
    while (!done) {
        if (written == text.size()) inputWrite.close();
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            timedOut = true;
            break;
        }
        pollfd fds[3] = {{inputWrite.get(), POLLOUT, 0}, {outputRead.get(), POLLIN, 0}, {exited.get(), POLLIN, 0}};
        const int wait = exited.get() >= 0 ? static_cast<int>(left) : static_cast<int>(std::min<long long>(left, 10));
        if (poll(fds, 3, wait) < 0 && errno != EINTR) {
            failure = errno;
            break;
        }
        if (fds[0].revents & (POLLOUT | POLLERR | POLLHUP)) {
            const ssize_t n = write(inputWrite.get(), text.data() + written, text.size() - written);
            if (n > 0) {
                written += static_cast<std::size_t>(n);
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                inputWrite.close();  // its exit status says why
                unread = true;
            }
        }
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            char buffer[512];
            const ssize_t n = read(outputRead.get(), buffer, sizeof buffer);
            if (n > 0 && said.size() < 2000) said.append(buffer, static_cast<std::size_t>(n));
            if (n == 0) outputRead.close();
        }
        const pid_t ended = waitpid(child, &waitStatus, WNOHANG);
        if (ended == child) done = true;
    }
    if (!done) {
        kill(child, SIGKILL);
        waitpid(child, &waitStatus, 0);
        if (timedOut)
            return mailError(Status::Code::busy, address,
                             options.sendmail + " did not finish within " + std::to_string(timeout) + " s");
        return mailError(Status::Code::failed, address, std::strerror(failure), failure);
    }
    if (outputRead.get() >= 0) {
        char buffer[512];
        const ssize_t n = read(outputRead.get(), buffer, sizeof buffer);
        if (n > 0) said.append(buffer, static_cast<std::size_t>(n));
    }
    std::string what = oneLine(said.substr(0, 300));
    while (!what.empty() && what.back() == ' ') what.pop_back();
    const std::string printed = what.empty() ? "" : ": " + what;
    if (WIFEXITED(waitStatus) && WEXITSTATUS(waitStatus) == 0) {
        if (unread || written < text.size())
            return mailError(Status::Code::failed, address, options.sendmail + " exited before reading the message");
        return {};
    }
    if (WIFEXITED(waitStatus))
        return mailError(Status::Code::failed, address,
                         options.sendmail + " exited with " + std::to_string(WEXITSTATUS(waitStatus)) + printed,
                         WEXITSTATUS(waitStatus));
    return mailError(Status::Code::failed, address,
                     options.sendmail + " ended by signal " + std::to_string(WTERMSIG(waitStatus)) + printed);
}

}  // namespace quelvar::report
