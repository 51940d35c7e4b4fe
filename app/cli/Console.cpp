#include "Console.h"

#include "ConsoleLog.h"
#include "PrintableText.h"

#include <cstdio>
#include <fcntl.h>
#include <iostream>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace folvane::cli::console {

namespace {
std::FILE* userErrors = stderr;
bool verboseOutput = false;

void writeLine(std::FILE* stream, const QString& line) {
    const QByteArray bytes = line.toLocal8Bit() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
}

std::optional<QString> readLine() {
    std::string line;
    if (!std::getline(std::cin, line))
        return std::nullopt;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return QString::fromLocal8Bit(line.data(), static_cast<qsizetype>(line.size()));
}
} // namespace

void setUp(bool verbose) {
    verboseOutput = verbose;
    openConsoleLogFileWhenWanted();
    if (verbose)
        return;
    const int kept = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    const int nowhere = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (kept < 0 || nowhere < 0)
        return;
    if (std::FILE* stream = ::fdopen(kept, "w"))
        userErrors = stream;
    std::fflush(stderr);
    ::dup2(nowhere, STDERR_FILENO);
    ::close(nowhere);
}

bool verbose() {
    return verboseOutput;
}

void out(const QString& line) {
    writeLine(stdout, line);
}

void message(const QString& line) {
    writeLine(userErrors, printableLine(line));
}

void error(const QString& line) {
    writeLine(userErrors, QStringLiteral("folvane3: ") + printableLine(line));
}

std::optional<QString> readPassword(const QString& prompt) {
    termios saved{};
    if (!::isatty(STDIN_FILENO) || ::tcgetattr(STDIN_FILENO, &saved) != 0)
        return readLine();
    const QByteArray text = prompt.toLocal8Bit();
    std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), userErrors);
    std::fflush(userErrors);
    termios silent = saved;
    silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);
    const std::optional<QString> password = readLine();
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    writeLine(userErrors, QString());
    return password;
}

bool confirm(const QString& question) {
    if (!::isatty(STDIN_FILENO))
        return false;
    const QByteArray text = (question + QStringLiteral(" [y/N] ")).toLocal8Bit();
    std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), userErrors);
    std::fflush(userErrors);
    const QString answer = readLine().value_or(QString()).trimmed().toLower();
    return answer == QStringLiteral("y") || answer == QStringLiteral("yes");
}

} // namespace folvane::cli::console
