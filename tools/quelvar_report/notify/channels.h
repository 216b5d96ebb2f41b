#pragma once
// Each channel's delivery, behind deliver.
#include <signal.h>

#include <string>
#include <string_view>

#include "platform/status.h"
#include "quelvar_report/notify/notify.h"

namespace quelvar::report {

// Why `address` is not one plain mail address ("user@example.com", or a
// local user such as "root"); empty when it is one.
std::string addressProblem(std::string_view address);
// Why `url` is not an http or https URL with a host; empty when it is one.
std::string urlProblem(std::string_view url);

// SIGPIPE held back while writing to a sendmail or a server that may have
// gone, and taken again if it came: a receiver that stops early fails the
// delivery rather than ending the program.
class SigpipeHeld {
public:
    SigpipeHeld() {
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipe, &old_);
    }
    SigpipeHeld(const SigpipeHeld&) = delete;
    SigpipeHeld& operator=(const SigpipeHeld&) = delete;
    ~SigpipeHeld() {
        sigset_t pending;
        sigpending(&pending);
        if (!wasPending_ && sigismember(&pending, SIGPIPE) == 1) {
            sigset_t pipe;
            sigemptyset(&pipe);
            sigaddset(&pipe, SIGPIPE);
            const timespec none{};
            sigtimedwait(&pipe, nullptr, &none);
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }

private:
    sigset_t old_;
    bool wasPending_ = false;
};

Status sendMail(const std::string& address, const Message& message, const DeliveryOptions& options);

}  // namespace quelvar::report
