#include "workflow/file_launcher.h"

#include "app/child_environment.h"

#include <QFileInfo>
#include <QProcess>
#include <cstring>
#include <fstream>
#include <sys/stat.h>

namespace {

bool IsProgram(const std::string& path) {
    char head[4] = {};
    std::ifstream in(path, std::ios::binary);
    in.read(head, sizeof head);
    const auto got = in.gcount();
    return (got == 4 && std::memcmp(head,
                                    "\x7f"
                                    "ELF",
                                    4) == 0) ||
           (got >= 2 && head[0] == '#' && head[1] == '!');
}

bool MakeExecutable(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return false;
    }
    // Execute wherever read is allowed, as a freshly installed program would be.
    const mode_t read = st.st_mode & (S_IRUSR | S_IRGRP | S_IROTH);
    return ::chmod(path.c_str(), st.st_mode | (read >> 2)) == 0;
}

QProcessEnvironment PlayerEnvironment() {
    QProcessEnvironment environment;
    for (const std::string& entry : InstallerEnvironment()) {
        const std::size_t equals = entry.find('=');
        environment.insert(QString::fromStdString(entry.substr(0, equals)),
                           QString::fromStdString(equals == std::string::npos ? "" : entry.substr(equals + 1)));
    }
    return environment;
}

} // namespace

bool OpenDownloadedFile(const std::string& folder, const std::string& fileName, bool wait,
                        const std::function<void()>& started) {
    const QString workingFolder = QString::fromStdString(folder.empty() ? std::string(".") : folder);
    const std::string path = (folder.empty() ? std::string() : folder + "/") + fileName;
    struct stat st {};
    if (fileName.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return false;
    }

    QString program;
    QStringList arguments;
    if (IsProgram(path)) {
        if (!MakeExecutable(path)) {
            return false;
        }
        program = QFileInfo(QString::fromStdString(path)).absoluteFilePath();
    } else {
        program = QStringLiteral("xdg-open");
        arguments << QString::fromStdString(path);
    }

    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setWorkingDirectory(workingFolder);
    process.setProcessEnvironment(PlayerEnvironment());
    if (!wait) {
        if (!process.startDetached()) {
            return false;
        }
        started();
        return true;
    }
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start();
    if (!process.waitForStarted(-1)) {
        return false;
    }
    started();
    process.waitForFinished(-1);
    return true;
}
