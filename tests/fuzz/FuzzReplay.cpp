// Drives a libFuzzer entry point without libFuzzer: every file of a seed folder, then a number of random
// inputs built from the characters that matter to the parser. Used where the compiler has no libFuzzer.
#include <QDir>
#include <QFile>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

void run(const std::string &input) {
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(input.data()), input.size());
}

} // namespace

int main(int argc, char *argv[]) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s SEED_FOLDER RANDOM_INPUTS\n", argv[0]);
        return 2;
    }
    int seeds = 0;
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    for (const QString &name : folder.entryList(QDir::Files, QDir::Name)) {
        QFile file(folder.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            return 2;
        run(file.readAll().toStdString());
        ++seeds;
    }

    const std::string alphabet[] = {"0",
                                    "1",
                                    "5",
                                    "9",
                                    "7",
                                    ".",
                                    "+",
                                    "-",
                                    "e",
                                    "E",
                                    "&",
                                    "H",
                                    "h",
                                    "O",
                                    "o",
                                    "F",
                                    "a",
                                    " ",
                                    "\t",
                                    "\n",
                                    "\r",
                                    ":",
                                    "x",
                                    "\xe7\xa1\xac",
                                    "\xef\xbc\x91",
                                    "\xff",
                                    "4294967296",
                                    "2147483647.5",
                                    "1e308",
                                    "0000"};
    std::mt19937 random(4107);
    const long count = std::strtol(argv[2], nullptr, 10);
    for (long n = 0; n < count; ++n) {
        std::string input;
        const int length = static_cast<int>(random() % 24);
        for (int k = 0; k < length; ++k)
            input += alphabet[random() % std::size(alphabet)];
        run(input);
    }
    std::printf("%d seeds and %ld random inputs passed\n", seeds, count);
    return 0;
}
