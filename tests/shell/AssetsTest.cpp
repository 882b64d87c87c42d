#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QSettings>
#include <QtEndian>

#include <gtest/gtest.h>

namespace {

QByteArray readFile(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString source(const char *relative) {
    return QStringLiteral(QM4107_SOURCE_DIR "/") + QString::fromLatin1(relative);
}

quint16 u16(const QByteArray &b, int at) {
    return qFromLittleEndian<quint16>(b.constData() + at);
}
quint32 u32(const QByteArray &b, int at) {
    return qFromLittleEndian<quint32>(b.constData() + at);
}

TEST(Assets, IconHoldsTheTenImagesAtTheirSizesAndDepths) {
    const QByteArray ico = readFile(source("shell/assets/qm4107.ico"));
    ASSERT_GE(ico.size(), 6);
    EXPECT_EQ(u16(ico, 0), 0);
    EXPECT_EQ(u16(ico, 2), 1); // icon, not cursor
    ASSERT_EQ(u16(ico, 4), 10);
    struct Image {
        int size, bits;
    };
    const Image expected[] = {{48, 4}, {32, 4},  {16, 4},  {48, 8},  {32, 8},
                              {16, 8}, {48, 32}, {32, 32}, {24, 32}, {16, 32}};
    for (int k = 0; k < 10; ++k) {
        SCOPED_TRACE(k);
        const int entry = 6 + 16 * k;
        const int size = expected[k].size, bits = expected[k].bits;
        EXPECT_EQ(quint8(ico[entry]), size);
        EXPECT_EQ(quint8(ico[entry + 1]), size);
        EXPECT_EQ(quint8(ico[entry + 2]), bits == 4 ? 16 : 0);
        EXPECT_EQ(u16(ico, entry + 6), bits);
        const quint32 length = u32(ico, entry + 8), offset = u32(ico, entry + 12);
        ASSERT_LE(qint64(offset) + length, ico.size());
        // The image itself: a bitmap header, its palette, the colour bits and the transparency mask.
        EXPECT_EQ(u32(ico, offset), 40u);
        EXPECT_EQ(qint32(u32(ico, offset + 4)), size);
        EXPECT_EQ(qint32(u32(ico, offset + 8)), 2 * size);
        EXPECT_EQ(u16(ico, offset + 14), bits);
        const int paletteBytes = bits <= 8 ? 4 << bits : 0;
        const int colourRow = ((bits * size + 31) / 32) * 4, maskRow = ((size + 31) / 32) * 4;
        EXPECT_EQ(length, 40u + paletteBytes + (colourRow + maskRow) * size);
    }

    QImageReader reader(source("shell/assets/qm4107.ico"));
    EXPECT_EQ(reader.imageCount(), 10);
    QImage first;
    ASSERT_TRUE(reader.read(&first));
    EXPECT_EQ(first.size(), QSize(48, 48));
}

TEST(Assets, SplashPictureIsABaselineThreeComponentJpegOf1000By348) {
    const QByteArray jpeg = readFile(source("shell/assets/splash.jpg"));
    ASSERT_GT(jpeg.size(), 4);
    EXPECT_EQ(quint8(jpeg[0]), 0xFF);
    EXPECT_EQ(quint8(jpeg[1]), 0xD8);
    // Walk the markers to the frame header: baseline (SOF0), with the picture's size and components.
    int at = 2, frameMarker = 0;
    while (at + 4 <= jpeg.size() && quint8(jpeg[at]) == 0xFF) {
        const int marker = quint8(jpeg[at + 1]);
        const int length = qFromBigEndian<quint16>(jpeg.constData() + at + 2);
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
            frameMarker = marker;
            EXPECT_EQ(quint8(jpeg[at + 4]), 8); // bits per sample
            EXPECT_EQ(qFromBigEndian<quint16>(jpeg.constData() + at + 5), 348);
            EXPECT_EQ(qFromBigEndian<quint16>(jpeg.constData() + at + 7), 1000);
            EXPECT_EQ(quint8(jpeg[at + 9]), 3);
            break;
        }
        at += 2 + length;
    }
    EXPECT_EQ(frameMarker, 0xC0);
    EXPECT_FALSE(QImage::fromData(jpeg, "JPEG").isNull());
}

TEST(Assets, DesktopEntryAndIconsForTheDesktop) {
    QSettings entry(source("shell/qm4107-panel.desktop"), QSettings::IniFormat);
    entry.beginGroup(QStringLiteral("Desktop Entry"));
    EXPECT_EQ(entry.value(QStringLiteral("Name")).toString(), QStringLiteral("QM4107开关量采集模块"));
    EXPECT_EQ(entry.value(QStringLiteral("Exec")).toString(), QStringLiteral("qm4107-panel"));
    EXPECT_EQ(entry.value(QStringLiteral("Icon")).toString(), QStringLiteral("qm4107"));
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QImage png(source("shell/assets/icons/qm4107-%1.png").arg(size));
        EXPECT_EQ(png.size(), QSize(size, size)) << size;
        EXPECT_TRUE(png.hasAlphaChannel()) << size;
    }
}

TEST(Assets, WindowsVersionRecordCarriesTheVersionAndTexts) {
    const QString rc = QString::fromUtf8(readFile(QStringLiteral(QM4107_RC_FILE)));
    ASSERT_FALSE(rc.isEmpty());
    const QStringList expected = {
        "FILEVERSION 2007,9,0,2",
        "PRODUCTVERSION 2007,9,0,2",
        "FILEOS VOS__WINDOWS32",
        "FILETYPE VFT_APP",
        "BLOCK \"080404b0\"",
        "VALUE \"Comments\", \"开关量IO 模块\"",
        "VALUE \"CompanyName\", \"开关量IO 模块\"",
        "VALUE \"FileDescription\", \"开关量IO 模块\"",
        "VALUE \"FileVersion\", \"2007.09.0002\"",
        "VALUE \"InternalName\", \"QM4107开关量采集模块\"",
        "VALUE \"LegalCopyright\", \"开关量IO 模块\"",
        "VALUE \"LegalTrademarks\", \"开关量IO 模块\"",
        "VALUE \"OriginalFilename\", \"QM4107开关量采集模块.exe\"",
        "VALUE \"ProductName\", \"开关量IO 模块\"",
        "VALUE \"ProductVersion\", \"2007.09.0002\"",
        "VALUE \"Translation\", 0x0804, 1200",
        "ICON",
    };
    for (const QString &line : expected)
        EXPECT_TRUE(rc.contains(line)) << line.toStdString();
    EXPECT_FALSE(rc.contains(u'@'));
}

} // namespace
