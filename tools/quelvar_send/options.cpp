#include "quelvar_send/options.h"

#include <cerrno>
#include <cstdlib>

namespace quelvar::send {

const char* const usageText =
    "usage: quelvar-send [options] [record ...]\n"
    "\n"
    "Sends call records to a Quelvar collector as a telephone switch does and\n"
    "reports each acknowledgement.\n"
    "\n"
    "Each record argument is one datagram; the legs of one call go into one\n"
    "datagram separated by line feeds. Without record arguments, --file or\n"
    "--generate, records are read from standard input: one line is one leg,\n"
    "and an empty line ends a call. Text is UTF-8; it goes on the wire as GBK.\n"
    "\n"
    "options:\n"
    "  --plain            send plain 8-bit datagrams (the collector's ENCRYPT=0)\n"
    "                     instead of enciphered ones; each line is a datagram\n"
    "  --host HOST        collector's host name or IPv4 address (127.0.0.1)\n"
    "  --port PORT        collector's UDP port (1809)\n"
    "  --timeout MS       how long to wait for each acknowledgement (2000)\n"
    "  --file FILE        read records from FILE (\"-\" is standard input)\n"
    "  --generate N       send N distinct, realistic generated calls\n"
    "  --month YYYY-MM    generated calls start at moments of that month, not now\n"
    "  --seed N           generate the same calls, byte for byte, on every run and\n"
    "                     every system (the collector takes a second run's calls\n"
    "                     for repeats)\n"
    "  --save FILE        write every call sent to FILE, as --file reads them\n"
    "  --rate R           send at most R datagrams per second\n"
    "  --quiet            print the summary only\n"
    "  --help             show this text\n"
    "\n"
    "Generated calls look like a month of a real site: 30 % between extensions\n"
    "(LO), 39 % out (OU), 26 % in (IN), 3.5 % forwarded out (FW, mostly to\n"
    "mobiles) and 1.5 % forwarded in (FI). Outside numbers are local lines,\n"
    "mobiles and long distance; 1.2 % of the calls go abroad or come from there\n"
    "(half of them Hong Kong, Macao or Taiwan), 2 % to service numbers\n"
    "(10086, 95588, 400...), 0.3 % to premium-rate lines (160/168 and five\n"
    "digits) and 1 in 2,000 to 110, 119, 120 or 122. Durations: median 75 s,\n"
    "78 % under 3 minutes, 1.2 % over 30 minutes, 1 in 2,000 over 2 hours, none\n"
    "over 3.5 hours. With --month, a weekday has five times the calls of a\n"
    "Saturday and eight times a Sunday's, nine in ten of them 08:00-18:00 with\n"
    "a dip at lunch; under 3 % of the calls are at night (22:00-07:00). One\n"
    "call in 20 of 20 s or more has two or three legs (never with --plain):\n"
    "each leg starts where the one before ended, and their durations add up to\n"
    "the call's. Extensions are 8000-8999 on four switches, a quarter of the\n"
    "calls from 40 busy ones.\n"
    "\n"
    "Prints every acknowledgement and a summary: sent, acknowledged, lost and the\n"
    "latency p50/p99. A datagram counts as lost when it should have been\n"
    "acknowledged and was not within the timeout. Exit status: 0 when every\n"
    "acknowledgement came, 1 when some were lost, 2 for bad arguments or a host\n"
    "that cannot be resolved.\n";

namespace {

bool toNumber(const std::string& text, long minimum, long maximum, long& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || parsed < minimum || parsed > maximum) return false;
    value = parsed;
    return true;
}

}  // namespace

std::optional<SendOptions> parseOptions(const std::vector<std::string>& arguments, std::string& error) {
    SendOptions options;
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        const std::string& argument = arguments[index];
        const auto valueOf = [&](std::string& value) {
            if (index + 1 >= arguments.size()) {
                error = argument + " needs a value";
                return false;
            }
            value = arguments[++index];
            return true;
        };
        std::string value;
        long number = 0;
        if (argument == "--help" || argument == "-h") {
            options.help = true;
        } else if (argument == "--plain") {
            options.plain = true;
        } else if (argument == "--quiet") {
            options.quiet = true;
        } else if (argument == "--host") {
            if (!valueOf(options.host)) return std::nullopt;
            if (options.host.empty()) {
                error = "--host needs a host name or address";
                return std::nullopt;
            }
        } else if (argument == "--port") {
            if (!valueOf(value)) return std::nullopt;
            if (!toNumber(value, 1, 65535, number)) {
                error = "--port must be a number from 1 to 65535, not \"" + value + "\"";
                return std::nullopt;
            }
            options.port = static_cast<int>(number);
        } else if (argument == "--timeout") {
            if (!valueOf(value)) return std::nullopt;
            if (!toNumber(value, 1, 3600000, number)) {
                error = "--timeout must be milliseconds from 1 to 3600000, not \"" + value + "\"";
                return std::nullopt;
            }
            options.timeoutMilliseconds = static_cast<int>(number);
        } else if (argument == "--file") {
            if (!valueOf(options.file)) return std::nullopt;
        } else if (argument == "--generate") {
            if (!valueOf(value)) return std::nullopt;
            if (!toNumber(value, 1, 100000000, number)) {
                error = "--generate must be a number of calls from 1 to 100000000, not \"" + value + "\"";
                return std::nullopt;
            }
            options.generate = number;
        } else if (argument == "--month") {
            if (!valueOf(value)) return std::nullopt;
            long year = 0, month = 0;
            if (value.size() != 7 || value[4] != '-' || !toNumber(value.substr(0, 4), 1970, 2099, year) ||
                !toNumber(value.substr(5, 2), 1, 12, month)) {
                error = "--month must be YYYY-MM, not \"" + value + "\"";
                return std::nullopt;
            }
            options.generateYear = static_cast<int>(year);
            options.generateMonth = static_cast<int>(month);
        } else if (argument == "--seed") {
            if (!valueOf(value)) return std::nullopt;
            if (!toNumber(value, 0, 2147483647L, number)) {
                error = "--seed must be a number from 0 to 2147483647, not \"" + value + "\"";
                return std::nullopt;
            }
            options.seed = static_cast<unsigned long>(number);
        } else if (argument == "--save") {
            if (!valueOf(options.save)) return std::nullopt;
        } else if (argument == "--rate") {
            if (!valueOf(value)) return std::nullopt;
            char* end = nullptr;
            options.rate = std::strtod(value.c_str(), &end);
            if (value.empty() || *end != '\0' || !(options.rate > 0) || options.rate > 1e7) {
                error = "--rate must be datagrams per second above 0, not \"" + value + "\"";
                return std::nullopt;
            }
        } else if (argument.size() > 1 && argument[0] == '-' && argument != "-") {
            error = "unknown option " + argument;
            return std::nullopt;
        } else {
            options.calls.push_back(argument);
        }
    }
    const int sources = (options.calls.empty() ? 0 : 1) + (options.file.empty() ? 0 : 1) + (options.generate ? 1 : 0);
    if (sources > 1) {
        error = "give records on the command line, --file or --generate, not several of them";
        return std::nullopt;
    }
    if ((options.generateMonth || options.seed) && !options.generate) {
        error = "--month and --seed go with --generate";
        return std::nullopt;
    }
    return options;
}

}  // namespace quelvar::send
