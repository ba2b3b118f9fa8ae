// Writing to redirected streams and asking without a terminal, through the real file descriptors.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "output.h"

namespace tlx {
namespace {

// Points one standard descriptor at a temporary file for the life of the object.
class Redirect {
public:
    explicit Redirect(int fd) : fd_(fd) {
        char name[] = "/tmp/qorin-io-XXXXXX";
        file_ = ::mkstemp(name);
        path_ = name;
        saved_ = ::dup(fd_);
        ::dup2(file_, fd_);
    }
    Redirect(int fd, const std::string& input) : Redirect(fd) {
        EXPECT_EQ(::write(file_, input.data(), input.size()), static_cast<ssize_t>(input.size()));
        ::lseek(file_, 0, SEEK_SET);
    }
    ~Redirect() {
        restore();
        ::close(file_);
        ::unlink(path_.c_str());
    }
    std::string contents() {
        restore();
        std::string out;
        char buffer[4096];
        ::lseek(file_, 0, SEEK_SET);
        for (ssize_t n; (n = ::read(file_, buffer, sizeof buffer)) > 0;) out.append(buffer, static_cast<size_t>(n));
        return out;
    }

private:
    void restore() {
        if (saved_ < 0) return;
        ::dup2(saved_, fd_);
        ::close(saved_);
        saved_ = -1;
    }
    int fd_;
    int file_ = -1;
    int saved_ = -1;
    std::string path_;
};

TEST(ConsoleIo, RedirectedOutputIsUtf8WithoutByteOrderMark) {
    Redirect out(STDOUT_FILENO);
    printLine(L"Label \u00c4\u00df\u65e5");
    EXPECT_EQ(out.contents(), "Label \xc3\x84\xc3\x9f\xe6\x97\xa5\n");
}

TEST(ConsoleIo, EmptyTextWritesNothingButAnEmptyLineIsALineBreak) {
    Redirect out(STDOUT_FILENO);
    writeText(Stream::Output, L"");
    EXPECT_EQ(out.contents(), "");
    Redirect again(STDOUT_FILENO);
    printLine(L"");
    EXPECT_EQ(again.contents(), "\n");
}

TEST(ConsoleIo, ErrorLinesGoToStandardErrorOnly) {
    Redirect out(STDOUT_FILENO);
    Redirect err(STDERR_FILENO);
    printErrorLine(L"Unknown option: --xx");
    EXPECT_EQ(err.contents(), "Unknown option: --xx\n");
    EXPECT_EQ(out.contents(), "");
}

TEST(ConsoleIo, PipedAnswerIsNotReadWithoutATerminal) {
    Redirect in(STDIN_FILENO, "y\n");
    Redirect out(STDOUT_FILENO);
    Redirect err(STDERR_FILENO);
    EXPECT_FALSE(confirm(L"Change the serial?"));
    EXPECT_EQ(err.contents(), "There's no console to ask for confirmation. Add --yes to proceed.\n");
    EXPECT_EQ(out.contents(), "");  // the question itself is not asked
    EXPECT_EQ(::lseek(STDIN_FILENO, 0, SEEK_CUR), 0);  // nothing was read
}

}  // namespace
}  // namespace tlx
