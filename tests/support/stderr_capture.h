// stderr_capture.h: captures what a test writes to standard error (file descriptor 2) so that
// exact message texts can be compared.
#ifndef QUORVEL_TEST_STDERR_CAPTURE_H
#define QUORVEL_TEST_STDERR_CAPTURE_H

#include <stdio.h>
#include <unistd.h>

#include <string>

// Redirects standard error into a temporary file from construction until Finish(), which
// restores it and returns the captured text.
class StderrCapture {
public:
    StderrCapture()
    {
        fflush(stderr);
        file_ = tmpfile();
        saved_ = dup(2);
        if (file_ != nullptr && saved_ >= 0) {
            dup2(fileno(file_), 2);
        }
    }
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;
    ~StderrCapture() { Finish(); }

    std::string Finish()
    {
        if (file_ == nullptr) {
            return text_;
        }
        fflush(stderr);
        if (saved_ >= 0) {
            dup2(saved_, 2);
            close(saved_);
            saved_ = -1;
        }
        rewind(file_);
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, file_)) > 0) {
            text_.append(buffer, n);
        }
        fclose(file_);
        file_ = nullptr;
        return text_;
    }

private:
    FILE* file_ = nullptr;
    int saved_ = -1;
    std::string text_;
};

#endif
