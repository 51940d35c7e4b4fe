// The console log: callers never wait for a write, lines are dropped (and counted) rather than queued
// without bound, and the log file is set aside at its limit even while several processes append to it.
// Each test that starts the log's writer does so in a child process of its own.
#include "ConsoleLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace folvane;

namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

mode_t permissionsOf(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? (info.st_mode & 0777) : 0;
}

// Runs `work` in a child process; what it returns ("ok", or what went wrong) comes back as text.
QString inChildProcess(const std::function<QString()>& work) {
    QTemporaryDir folder;
    const QString verdictPath = folder.filePath(QStringLiteral("verdict"));
    const pid_t child = ::fork();
    if (child == 0) {
        const QString verdict = work();
        QFile file(verdictPath);
        if (file.open(QIODevice::WriteOnly))
            file.write(verdict.toUtf8());
        file.close();
        ::_exit(0);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child)
        return QStringLiteral("no child process");
    if (!WIFEXITED(status))
        return QStringLiteral("the child process did not end normally");
    return QString::fromUtf8(readAll(verdictPath));
}

// "<writer> <number, 6 digits> <padding>": lines whose order and wholeness can be checked afterwards.
QString numberedLine(char writer, int number) {
    return QStringLiteral("%1 %2 ").arg(QLatin1Char(writer)).arg(number, 6, 10, QLatin1Char('0')) +
           QString(80, u'x');
}

// Each writer's numbers in the order they appear; an empty writer key collects every line of another shape.
std::map<QString, QList<int>> numbersIn(const QByteArray& text) {
    static const QRegularExpression shape(QStringLiteral("^([A-Z]) (\\d{6}) x{80}$"));
    std::map<QString, QList<int>> numbers;
    for (const QString& line : QString::fromUtf8(text).split(u'\n', Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch match = shape.match(line);
        if (match.hasMatch())
            numbers[match.captured(1)].append(match.captured(2).toInt());
        else
            numbers[QString()].append(0);
    }
    return numbers;
}

QList<int> upTo(int count) {
    QList<int> all;
    for (int i = 0; i < count; ++i)
        all.append(i);
    return all;
}

} // namespace

TEST(LogQueue, DropsWhatFindsItFullAndSaysHowManyWhereTheGapIs) {
    LogQueue queue(30);
    EXPECT_TRUE(queue.push("first....\n"));
    EXPECT_TRUE(queue.push("second...\n"));
    EXPECT_TRUE(queue.push("third....\n"));
    EXPECT_FALSE(queue.push("fourth...\n"));
    // It would fit, but would land after the gap while the count is written before it.
    EXPECT_FALSE(queue.push("5\n"));
    EXPECT_EQ(queue.dropped(), 2u);
    EXPECT_EQ(queue.takeAll(), QByteArray("first....\nsecond...\nthird....\n") +
                                   QStringLiteral("… 2 log lines dropped\n").toUtf8());

    EXPECT_TRUE(queue.isEmpty());
    EXPECT_TRUE(queue.push("sixth\n"));
    EXPECT_EQ(queue.takeAll(), QByteArray("sixth\n")) << "the count is written once";

    // A line longer than the whole queue can never be written: it is counted too.
    EXPECT_FALSE(queue.push(QByteArray(31, 'l')));
    EXPECT_EQ(queue.takeAll(), QStringLiteral("… 1 log lines dropped\n").toUtf8());
}

TEST(RotatingLogFile, SetsTheFileAsideAtItsLimitKeepingOneOlderGenerationPrivate) {
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("FolvaneConsole.log"));
    // A file left readable by others from before is made private.
    QFile earlier(path);
    ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
    earlier.write("earlier\n");
    earlier.close();
    ::chmod(QFile::encodeName(path).constData(), 0644);

    RotatingLogFile log(path, 40);
    ASSERT_TRUE(log.open());
    for (int i = 0; i < 12; ++i)
        ASSERT_TRUE(log.append(QStringLiteral("line %1...\n").arg(i, 2, 10, QLatin1Char('0')).toUtf8()));
    // Lines of 11 bytes: three fit below 40, the fourth sets the file aside. Older lines are gone, the
    // rest are in order.
    EXPECT_EQ(readAll(path + QStringLiteral(".1")), "line 08...\nline 09...\nline 10...\n");
    EXPECT_EQ(readAll(path), "line 11...\n");
    EXPECT_FALSE(QFileInfo::exists(path + QStringLiteral(".2")));
    EXPECT_EQ(permissionsOf(path), 0600u);
    EXPECT_EQ(permissionsOf(path + QStringLiteral(".1")), 0600u);

    // Another writer set the file aside (or the user removed it): this one goes on at the path.
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(log.append("after removal\n"));
    EXPECT_EQ(readAll(path), "after removal\n");
}

TEST(ConsoleLog, TwoProcessesAppendingAndRotatingTheSameFileLoseNoLineAndKeepEachWhole) {
    QTemporaryDir state;
    qputenv("XDG_STATE_HOME", QFile::encodeName(state.path()));
    qputenv("FOLVANE_CONSOLE_LOG", "1");
    // 2 × 30,000 lines of 90 bytes: more than the limit once, less than twice, so one rotation keeps all.
    constexpr int linesEach = 30'000;
    const auto writer = [](char name) {
        return [name] {
            const int nowhere = ::open("/dev/null", O_WRONLY);
            ::dup2(nowhere, STDERR_FILENO);
            openConsoleLogFileWhenWanted();
            for (int i = 0; i < linesEach; ++i) {
                logLine(numberedLine(name, i));
                // Paced, so that no line is dropped: what is checked is the file's rotation.
                if (i % 200 == 199 && !flushConsoleLog(60'000))
                    return QStringLiteral("the file took no lines");
            }
            return flushConsoleLog(60'000) ? QStringLiteral("ok") : QStringLiteral("not all written");
        };
    };
    QString verdictB;
    const pid_t second = ::fork();
    if (second == 0) {
        const QString verdict = writer('B')();
        ::_exit(verdict == QLatin1String("ok") ? 0 : 1);
    }
    ASSERT_GT(second, 0);
    EXPECT_EQ(inChildProcess(writer('A')), "ok");
    int status = 0;
    ASSERT_EQ(::waitpid(second, &status, 0), second);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    qunsetenv("FOLVANE_CONSOLE_LOG");
    qunsetenv("XDG_STATE_HOME");

    const QString path = state.filePath(QStringLiteral("Folvane 3/Logs/FolvaneConsole.log"));
    const QByteArray older = readAll(path + QStringLiteral(".1"));
    const QByteArray current = readAll(path);
    EXPECT_GT(older.size(), 0) << "set aside once";
    EXPECT_LE(older.size(), consoleLogLimitBytes);
    EXPECT_EQ(permissionsOf(path), 0600u);
    const std::map<QString, QList<int>> numbers = numbersIn(older + current);
    EXPECT_EQ(numbers.count(QString()), 0u) << "every line whole";
    ASSERT_EQ(numbers.size(), 2u);
    EXPECT_EQ(numbers.at(QStringLiteral("A")), upTo(linesEach)) << "all of A's lines, once, in order";
    EXPECT_EQ(numbers.at(QStringLiteral("B")), upTo(linesEach)) << "all of B's lines, once, in order";
}
