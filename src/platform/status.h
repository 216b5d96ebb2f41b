#pragma once
#include <memory>
#include <string>
#include <utility>

namespace quelvar {

// The outcome of an operation that can fail: nothing at all when it
// succeeded; otherwise what kind of failure it was, what was being done, to
// what (a path, an address, a port) and why, in the system's own words where
// the system gave them. Operations return it; their caller decides whether
// and how to log it (the operations whose failure must not pass unseen are
// marked [[nodiscard]]). Texts are 8-bit, in the code page of file names.
class Status {
public:
    enum class Code : unsigned char {
        ok,
        notFound,     // no such file, folder or host; for a new file: a folder of its path is missing
        exists,       // a name on the way exists, but not as what was asked for
        busy,         // another program holds it: a lock, a sharing violation, a bound port
        damaged,      // its contents are not what they must be
        unsupported,  // a form or version this program does not handle
        unavailable,  // a service of the system could not be started
        failed,       // anything else; the reason says what
    };

    Status() = default;

    static Status error(Code code, std::string operation, std::string subject, std::string reason, int number = 0) {
        Status status;
        status.state_ = std::make_shared<const State>(
            State{code, number, std::move(operation), std::move(subject), std::move(reason)});
        return status;
    }

    bool ok() const { return state_ == nullptr; }
    Code code() const { return state_ ? state_->code : Code::ok; }
    bool is(Code code) const { return this->code() == code; }
    // What was being done: "open", "write", "bind UDP port", ...
    const std::string& operation() const { return state_ ? state_->operation : none(); }
    // To what: a path, an address, a port.
    const std::string& subject() const { return state_ ? state_->subject : none(); }
    const std::string& reason() const { return state_ ? state_->reason : none(); }
    // A number of the operation's own that operators look up (the
    // workbook's "XLS-" numbers); 0 where there is none.
    int number() const { return state_ ? state_->number : 0; }

    // "<operation> <subject>: <reason>", or "ok".
    std::string text() const {
        if (ok()) return "ok";
        std::string result = operation();
        if (!subject().empty()) result.append(result.empty() ? "" : " ").append(subject());
        return result.append(": ").append(reason());
    }

private:
    struct State {
        Code code;
        int number;
        std::string operation;
        std::string subject;
        std::string reason;
    };
    static const std::string& none() {
        static const std::string empty;
        return empty;
    }

    std::shared_ptr<const State> state_;
};

}  // namespace quelvar
