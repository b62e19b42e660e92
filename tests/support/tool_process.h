#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// One of our command-line programs run as a child process, its standard output and error going to
// files (standard input is /dev/null). `environment` holds "NAME=value" entries added to ours.
class ToolProcess {
public:
    ToolProcess(const std::string& program, const std::vector<std::string>& arguments, const std::string& outputFile,
                const std::string& errorFile, const std::vector<std::string>& environment = {});
    ~ToolProcess();
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;

    void Signal(int number) const;
    // The exit status; 128 + the signal's number when a signal ended it.
    int Wait();

private:
    pid_t pid_ = -1;
    int status_ = -1;
};
