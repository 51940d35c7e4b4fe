// The helper's command line: any argument list (NUL-separated in the input, read as the helper reads its
// argv) is either refused with a reason or read by position; standard input is read exactly when position
// 7 asks for it, and what was read starts the helper the same way again when written back out.
#include "FuzzCheck.h"
#include "HelperCommandLine.h"

#include <cstdint>

using namespace folvane;
using fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The first line is what standard input holds; the rest is the argument list, program path first.
    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const qsizetype lineEnd = input.indexOf('\n');
    const QString standardInput = QString::fromLocal8Bit(lineEnd < 0 ? QByteArray() : input.left(lineEnd));
    QStringList args;
    for (const QByteArray& arg : input.mid(lineEnd + 1).split('\0'))
        args << QString::fromLocal8Bit(arg);

    int reads = 0;
    const auto readLine = [&] {
        ++reads;
        return standardInput;
    };
    QString error;
    const auto parsed = HelperCommandLine::parse(args, readLine, &error);
    if (!parsed) {
        check(!error.isEmpty(), "an argument list was refused without a reason");
        check(args.size() < HelperCommandLine::count + 1, "a whole argument list was refused");
        check(reads == 0, "standard input was read for a refused argument list");
        return 0;
    }
    const bool fromInput = args.at(HelperCommandLine::passwordPosition) == QLatin1String("-");
    check(reads == (fromInput ? 1 : 0), "standard input was read when the password was given, or twice");
    check(parsed->password == (fromInput ? standardInput : args.at(HelperCommandLine::passwordPosition)),
          "the password is not the one given");

    // The application starts the helper with arguments(): they must read back as the same values.
    QStringList again = parsed->arguments();
    check(again.size() == HelperCommandLine::count, "arguments() does not give sixteen values");
    check(again.at(HelperCommandLine::passwordPosition - 1) == QLatin1String("-"),
          "the password shows on the command line");
    again.prepend(args.at(0));
    QString againError;
    const auto reread = HelperCommandLine::parse(
        again, [&] { return parsed->password; }, &againError);
    // Every value but the password travels in arguments().
    check(reread && reread->arguments() == parsed->arguments() && reread->password == parsed->password,
          "written-out arguments do not read back as the same values");
    return 0;
}
