// Terminal and stream output on POSIX: UTF-8 always, confirmation only from a terminal.
#include <unistd.h>

#include <cerrno>
#include <string>

#include "console_io.h"
#include "output.h"
#include "platform/posix/errors.h"
#include "platform/text.h"

namespace tlx {

const wchar_t* const kLineEnd = L"\n";

namespace {

std::uint32_t firstOutputError = 0;

}  // namespace

std::uint32_t outputError() {
    return firstOutputError;
}

void writeText(Stream stream, std::wstring_view text) {
    if (text.empty()) return;
    const int fd = stream == Stream::Output ? STDOUT_FILENO : STDERR_FILENO;
    const std::string bytes = toReadableUtf8(text);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            // Commands that only read end with exit code 1 when their output is lost (dispatch).
            if (fd == STDOUT_FILENO && firstOutputError == 0) firstOutputError = n < 0 ? posix::lastWindowsError() : 112;
            return;
        }
        done += static_cast<std::size_t>(n);
    }
}

bool inputIsConsole() {
    return ::isatty(STDIN_FILENO) == 1;
}

std::optional<std::wstring> readConsoleAnswer() {
    // Read the whole line, so nothing typed is left behind for the shell to run after we exit.
    std::string line;
    char c = 0;
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || c == '\n') break;
        if (line.size() < 256) line += c;
    }
    std::wstring answer = fromUtf8(line);
    if (answer.size() > 63) answer.resize(63);
    if (answer.empty()) return std::nullopt;
    return answer;
}

}  // namespace tlx
