// The console log: lines are dropped (and counted) rather than queued without bound, and the log file is set
// aside at its limit, keeping one older generation, even while several processes append to it. (The log's
// writer and its file in the state folder are met end to end: AppCli's connect tests read it.)
#include "ConsoleLog.h"
#include "FileText.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <map>
#include <numeric>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace folvane;

using testsupport::permissionsOf;
using testsupport::readAll;

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

// Two processes append numbered lines, 80,000 bytes in all, to one file set aside at 60,000: it is set aside
// once, and every line of each is kept, whole, once, in order. The processes meet at the rotation only for a
// moment, so the case runs a few times.
TEST(RotatingLogFile, TwoProcessesAppendingAndRotatingTheSameFileLoseNoLineAndKeepEachWhole) {
    constexpr int linesEach = 2000;
    const QByteArray padding(10, '.');
    QList<int> all(linesEach);
    std::iota(all.begin(), all.end(), 0);
    for (int round = 0; round < 8 && !HasFailure(); ++round) {
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("FolvaneConsole.log"));
        std::vector<pid_t> children;
        for (const char writer : {'A', 'B'}) {
            const pid_t child = ::fork();
            if (child == 0) {
                RotatingLogFile log(path, 60'000);
                bool written = log.open();
                for (int i = 0; written && i < linesEach; ++i)
                    written = log.append(writer + QByteArray(" ") +
                                         QByteArray::number(i).rightJustified(6, '0') + ' ' + padding + '\n');
                ::_exit(written ? 0 : 1);
            }
            ASSERT_GT(child, 0);
            children.push_back(child);
        }
        for (const pid_t child : children) {
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        }
        EXPECT_TRUE(QFileInfo::exists(path + QStringLiteral(".1"))) << "set aside once";
        std::map<QByteArray, QList<int>> numbers;
        for (const QByteArray& line : (readAll(path + QStringLiteral(".1")) + readAll(path)).split('\n'))
            if (!line.isEmpty())
                numbers[line.size() == 19 && line.endsWith(padding) ? line.left(1) : line].append(
                    line.mid(2, 6).toInt());
        EXPECT_EQ(numbers, (std::map<QByteArray, QList<int>>{{"A", all}, {"B", all}})) << "round " << round;
    }
}
