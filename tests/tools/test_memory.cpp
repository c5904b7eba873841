// vinsk-cli on hostile and unlucky input, each run in a child process whose
// peak resident memory the kernel reports when it ends: every file is
// refused or read within a small fraction of the 2 GiB promise.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <zlib.h>

#include "tests/image/formats/PictureBytes.h"

namespace {

namespace fs = std::filesystem;
using TBytes = std::vector<std::uint8_t>;

// Far below the promise: each of these files is refused at once or is tiny.
constexpr long PeakLimitKiB = 256 * 1024;

struct TChildRun {
    bool Exited = false;
    int Code = -1;
    long PeakKiB = 0; // ru_maxrss
    double Seconds = 0;
    std::string Err;
};

class Memory : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        std::string pattern = (fs::temp_directory_path() / "vinsk-memory-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        Dir = new fs::path(pattern);
    }
    static void TearDownTestSuite()
    {
        fs::remove_all(*Dir);
        delete Dir;
    }

    static std::string File(const std::string& name) { return (*Dir / name).string(); }

    static void Write(const std::string& path, const TBytes& bytes)
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        ASSERT_TRUE(out.good()) << path;
    }

    // Runs vinsk-cli with the arguments, its address space capped so that a
    // runaway fails instead of taking the machine; killed after a minute.
    static TChildRun Run(const std::vector<std::string>& args, std::uint64_t addressSpace = 3ull << 30)
    {
        const std::string err = File("child.err");
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int null = ::open("/dev/null", O_WRONLY);
            if (fd < 0 || null < 0)
                ::_exit(126);
            ::dup2(null, 1);
            ::dup2(fd, 2);
            const rlimit as{addressSpace, addressSpace};
            ::setrlimit(RLIMIT_AS, &as);
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>(VINSK_CLI));
            for (const std::string& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::setenv("LC_ALL", "C", 1);
            ::execv(VINSK_CLI, argv.data());
            ::_exit(127);
        }
        TChildRun r;
        if (pid < 0)
            return r;
        int status = 0;
        rusage usage{};
        const auto started = std::chrono::steady_clock::now();
        const auto deadline = started + std::chrono::seconds(60);
        pid_t done = 0;
        while ((done = ::wait4(pid, &status, WNOHANG, &usage)) == 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (done == 0) {
            ::kill(pid, SIGKILL);
            ::wait4(pid, &status, 0, &usage);
            ADD_FAILURE() << "vinsk-cli ran for more than a minute";
        }
        r.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        r.Exited = WIFEXITED(status);
        r.Code = r.Exited ? WEXITSTATUS(status) : -1;
        r.PeakKiB = usage.ru_maxrss;
        std::ifstream in(err);
        std::stringstream text;
        text << in.rdbuf();
        r.Err = text.str();
        return r;
    }

    static void ExpectRefused(const TChildRun& r, const std::string& message)
    {
        EXPECT_TRUE(r.Exited);
        EXPECT_EQ(r.Code, 1) << r.Err;
        EXPECT_NE(r.Err.find(message), std::string::npos) << r.Err;
        EXPECT_LT(r.PeakKiB, PeakLimitKiB);
    }

    static void ExpectLoaded(const TChildRun& r)
    {
        EXPECT_TRUE(r.Exited);
        EXPECT_EQ(r.Err.find("Cannot load"), std::string::npos) << r.Err;
        EXPECT_LT(r.PeakKiB, PeakLimitKiB);
    }

    static std::vector<std::string> Points(const std::string& image, const std::string& start = "1,1",
                                           const std::string& stop = "14,3", const std::string& in = "7,5")
    {
        return {"--image", image, "--start", start, "--stop", stop, "--inline", in};
    }

    static inline fs::path* Dir = nullptr;
};

void Put32(TBytes& b, std::uint32_t v)
{
    for (int s = 24; s >= 0; s -= 8)
        b.push_back(static_cast<std::uint8_t>(v >> s));
}

void Chunk(TBytes& png, const char* type, const TBytes& data)
{
    Put32(png, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    Put32(png, static_cast<std::uint32_t>(crc32(0, png.data() + start, static_cast<uInt>(png.size() - start))));
}

TBytes Deflate(const TBytes& raw)
{
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    TBytes out(size);
    compress2(out.data(), &size, raw.data(), static_cast<uLong>(raw.size()), 9);
    out.resize(size);
    return out;
}

// A grey 16-bit PNG of side x side, every sample 1000; its rows are
// deflated as they are made, so the test never holds the picture.
TBytes BigGrey16Png(std::uint32_t side)
{
    TBytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    TBytes ihdr;
    Put32(ihdr, side);
    Put32(ihdr, side);
    ihdr.insert(ihdr.end(), {16, 0, 0, 0, 0});
    Chunk(png, "IHDR", ihdr);
    TBytes row(1 + std::size_t{side} * 2);
    for (std::size_t i = 1; i < row.size(); i += 2) {
        row[i] = 0x03;
        row[i + 1] = 0xE8;
    }
    z_stream z{};
    deflateInit(&z, 1);
    TBytes packed(1 << 20), idat;
    for (std::uint32_t y = 0; y <= side; ++y) {
        z.next_in = row.data();
        z.avail_in = y < side ? static_cast<uInt>(row.size()) : 0;
        do {
            z.next_out = packed.data();
            z.avail_out = static_cast<uInt>(packed.size());
            deflate(&z, y < side ? Z_NO_FLUSH : Z_FINISH);
            idat.insert(idat.end(), packed.data(), z.next_out);
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    Chunk(png, "IDAT", idat);
    Chunk(png, "IEND", {});
    return png;
}

// A grey 16 x 16 PNG with `texts` compressed text chunks of 7.9 MB each,
// below libpng's own limit for one chunk, so that it would keep them all.
TBytes PngWithTexts(int texts)
{
    TBytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    TBytes ihdr;
    Put32(ihdr, 16);
    Put32(ihdr, 16);
    ihdr.insert(ihdr.end(), {8, 0, 0, 0, 0});
    Chunk(png, "IHDR", ihdr);
    TBytes text = {'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 0};
    const TBytes packed = Deflate(TBytes(7900000, 0));
    text.insert(text.end(), packed.begin(), packed.end());
    for (int i = 0; i < texts; ++i)
        Chunk(png, "zTXt", text);
    TBytes raw;
    for (int y = 0; y < 16; ++y) {
        raw.push_back(0);
        for (int x = 0; x < 16; ++x)
            raw.push_back(static_cast<std::uint8_t>(x * 16));
    }
    Chunk(png, "IDAT", Deflate(raw));
    Chunk(png, "IEND", {});
    return png;
}

TEST_F(Memory, CheckPointsFarOutsideThePictureAreRefusedAtOnce)
{
    const std::string image = File("small.png");
    Write(image, PngWithTexts(0));
    for (const auto& [start, stop] : {std::pair{"2147483647,0", "0,0"}, std::pair{"-2147483648,-2147483648", "0,0"},
                                      std::pair{"1,1", "40000000,3"}})
        ExpectRefused(Run(Points(image, start, stop, "5,5")), "The check points are too far apart");
}

// Text chunks are skipped unread, in a PNG and in a PNG inside an icon.
TEST_F(Memory, CompressedTextChunksCostNothing)
{
    const TBytes png = PngWithTexts(999);
    Write(File("texts.png"), png);
    ExpectLoaded(Run(Points(File("texts.png"))));

    TBytes ico = {0, 0, 1, 0, 1, 0, 16, 16, 0, 0, 1, 0, 32, 0};
    for (std::uint32_t v : {static_cast<std::uint32_t>(png.size()), 22u})
        for (int s = 0; s < 32; s += 8)
            ico.push_back(static_cast<std::uint8_t>(v >> s));
    ico.insert(ico.end(), png.begin(), png.end());
    Write(File("texts.ico"), ico);
    ExpectLoaded(Run(Points(File("texts.ico"))));
}

TEST_F(Memory, AHugeSettingsFileIsRefusedUnread)
{
    Write(File("small.png"), PngWithTexts(0));
    Write(File("newlines.ini"), TBytes(100000000, '\n'));
    std::vector<std::string> args = Points(File("small.png"));
    args.insert(args.end(), {"--settings", File("newlines.ini")});
    ExpectRefused(Run(args), "larger than 1 MiB");
}

// Within the raster limit, but not with GraphicsMagick's own copy beside it.
TEST_F(Memory, LargeRlaAndCutPicturesAreRefusedBeforeDecoding)
{
    // RLA 23170 x 23170: every scanline offset points at one shared row.
    const std::uint32_t side = 23170;
    TBytes rla(740, 0);
    for (std::size_t at : {std::size_t{2}, std::size_t{6}, std::size_t{10}, std::size_t{14}}) {
        rla[at] = static_cast<std::uint8_t>((side - 1) >> 8);
        rla[at + 1] = static_cast<std::uint8_t>(side - 1);
    }
    rla[17] = 1;  // frame
    rla[21] = 3;  // colour channels
    std::memcpy(&rla[26], "\xFF\xFE" "2.2", 5); // gamma
    std::memcpy(&rla[580], "rgb", 3);         // colour space
    rla[659] = 8;                              // colour bits
    rla[663] = 8;                              // matte bits
    TBytes row;
    for (std::uint32_t left = side; left > 0;) {
        const std::uint32_t n = left < 128 ? left : 128;
        row.insert(row.end(), {static_cast<std::uint8_t>(n - 1), 0x40});
        left -= n;
    }
    const std::uint32_t start = 740 + 4 * side;
    for (std::uint32_t i = 0; i < side; ++i)
        Put32(rla, start);
    for (int c = 0; c < 3; ++c) {
        rla.insert(rla.end(), {static_cast<std::uint8_t>(row.size() >> 8), static_cast<std::uint8_t>(row.size())});
        rla.insert(rla.end(), row.begin(), row.end());
    }
    Write(File("large.rla"), rla);
    ExpectRefused(Run(Points(File("large.rla"))), "needs more than 2 GiB of memory");

    // CUT 30000 x 17895 of one grey.
    const std::uint16_t width = 30000, height = 17895;
    TBytes line;
    for (int left = width; left > 0;) {
        const int n = left < 127 ? left : 127;
        line.insert(line.end(), {static_cast<std::uint8_t>(0x80 | n), 0x40});
        left -= n;
    }
    line.push_back(0);
    TBytes cut = {static_cast<std::uint8_t>(width), static_cast<std::uint8_t>(width >> 8),
                  static_cast<std::uint8_t>(height), static_cast<std::uint8_t>(height >> 8), 0, 0};
    cut.reserve(cut.size() + (line.size() + 2) * height);
    for (int y = 0; y < height; ++y) {
        cut.insert(cut.end(), {static_cast<std::uint8_t>(line.size()), static_cast<std::uint8_t>(line.size() >> 8)});
        cut.insert(cut.end(), line.begin(), line.end());
    }
    Write(File("large.cut"), cut);
    ExpectRefused(Run(Points(File("large.cut"))), "needs more than 2 GiB of memory");
}

TEST_F(Memory, HostileJpegsAreRefusedAtOnce)
{
    using vinsk::test::MakeJpeg;
    using vinsk::test::TJpegKind;
    const vinsk::test::TSourceImage grey{16, 16, std::vector<std::uint32_t>(256, 0xFF808080u)};
    // A progressive picture declaring 23170 x 23170, cut short.
    TBytes jpeg = MakeJpeg(grey, TJpegKind::Progressive);
    for (std::size_t i = 0; i + 8 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC2) {
            jpeg[i + 5] = jpeg[i + 7] = 23170 >> 8;
            jpeg[i + 6] = jpeg[i + 8] = 23170 & 0xFF;
            break;
        }
    jpeg.resize(jpeg.size() * 2 / 3);
    Write(File("huge-truncated.jpg"), jpeg);
    ExpectRefused(Run(Points(File("huge-truncated.jpg"))), "needs more memory than allowed");

    Write(File("scans.jpg"), MakeJpeg(grey, TJpegKind::ManyScans));
    ExpectRefused(Run(Points(File("scans.jpg"))), "more than 300 scans");
}

// A dark as large as the picture (1.2 GB each with their samples) is
// refused before it is decoded: the picture and the frame share one budget.
TEST_F(Memory, APictureAndItsDarkShareOneBudget)
{
    const std::string path = File("big16.png");
    Write(path, BigGrey16Png(14000));
    std::vector<std::string> args = Points(path);
    args.insert(args.end(), {"--dark", path});
    const TChildRun r = Run(args, 4ull << 30);
    EXPECT_EQ(r.Code, 1) << r.Err;
    EXPECT_EQ(r.Err, "Cannot load " + path + ": The picture and the dark frame together need 2.4 GB; the limit is 2 GiB\n");
    EXPECT_LT(r.PeakKiB, 1300 * 1024); // the picture alone: 1.18 GB
}

// Only the pages the reader touches are loaded.
TEST_F(Memory, ASmallPicturePaddedToGigabytesCostsNoMore)
{
    const std::string path = File("padded.ppm");
    std::string header = "P6\n64 48\n255\n";
    TBytes ppm(header.begin(), header.end());
    ppm.resize(ppm.size() + 64 * 48 * 3, 0x80);
    Write(path, ppm);
    // Sparse: the padding takes no disk.
    fs::resize_file(path, (4ull << 30) - 1);
    ExpectLoaded(Run(Points(path, "1,1", "30,5", "15,4"), 8ull << 30));
}

// A DNG of side x side sensor pixels in lossless-JPEG tiles of 256 x 256
// whose entropy-coded data is random bytes: valid frame headers over data
// that decodes to noise, so LibRaw goes through the whole sensor. Every tile
// is the same bytes, so the file stays small.
TBytes GarbageDng(std::uint32_t side)
{
    constexpr std::uint32_t tileSide = 256;
    TBytes jpeg = {0xFF, 0xD8};
    // One Huffman table: the 16 difference lengths 0 to 15 as 4-bit codes.
    jpeg.insert(jpeg.end(), {0xFF, 0xC4, 0x00, 0x23, 0x00, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    for (std::uint8_t v = 0; v < 16; ++v)
        jpeg.push_back(v);
    // 16 bits, 256 rows of 128 pixels in two components.
    jpeg.insert(jpeg.end(), {0xFF, 0xC3, 0x00, 0x0E, 16, 1, 0, 0, 128, 2, 1, 0x11, 0, 2, 0x11, 0});
    jpeg.insert(jpeg.end(), {0xFF, 0xDA, 0x00, 0x0A, 2, 1, 0x00, 2, 0x00, 1, 0, 0});
    // About 11.5 bits a pixel: enough for the whole tile.
    std::uint32_t seed = 12345;
    for (std::size_t i = 0; i < 128 * 1024; ++i) {
        seed = seed * 1103515245u + 12345u;
        jpeg.push_back(static_cast<std::uint8_t>((seed >> 16) % 255)); // no 0xFF: no marker
    }
    jpeg.insert(jpeg.end(), {0xFF, 0xD9});

    struct TEntry {
        std::uint16_t Tag, Type;
        std::uint32_t Count;
        TBytes Value; // little-endian
    };
    auto le = [](std::vector<std::uint32_t> values, int size) {
        TBytes b;
        for (std::uint32_t v : values)
            for (int i = 0; i < size; ++i)
                b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        return b;
    };
    auto text = [](const std::string& t) { return TBytes(t.c_str(), t.c_str() + t.size() + 1); };
    const std::uint32_t across = (side + tileSide - 1) / tileSide, tiles = across * across;
    std::vector<TEntry> entries = {
        {254, 4, 1, le({0}, 4)},
        {256, 4, 1, le({side}, 4)},
        {257, 4, 1, le({side}, 4)},
        {258, 3, 1, le({16}, 2)},
        {259, 3, 1, le({7}, 2)},
        {262, 3, 1, le({32803}, 2)},
        {271, 2, 6, text("Vinsk")},
        {272, 2, 14, text("Sample camera")},
        {277, 3, 1, le({1}, 2)},
        {284, 3, 1, le({1}, 2)},
        {322, 4, 1, le({tileSide}, 4)},
        {323, 4, 1, le({tileSide}, 4)},
        {324, 4, tiles, {}}, // the offsets, once the data's place is known
        {325, 4, tiles, le(std::vector<std::uint32_t>(tiles, static_cast<std::uint32_t>(jpeg.size())), 4)},
        {33421, 3, 2, le({2, 2}, 2)},
        {33422, 1, 4, {0, 1, 1, 2}},
        {50706, 1, 4, {1, 4, 0, 0}},
        {50707, 1, 4, {1, 1, 0, 0}},
        {50708, 2, 20, text("Vinsk Sample camera")},
        {50717, 4, 1, le({65535}, 4)},
        {50721, 10, 9, le({1, 1, 0, 1, 0, 1, 0, 1, 1, 1, 0, 1, 0, 1, 0, 1, 1, 1}, 4)},
        {50728, 5, 3, le({1, 1, 1, 1, 1, 1}, 4)},
        {50778, 3, 1, le({21}, 2)}};
    const std::uint32_t ifdBytes = 2 + 12 * static_cast<std::uint32_t>(entries.size()) + 4;
    // Values of more than 4 bytes follow the directory, the tiles' data last.
    std::uint32_t data = 8 + ifdBytes + tiles * 4;
    for (const TEntry& e : entries)
        if (e.Value.size() > 4)
            data += static_cast<std::uint32_t>(e.Value.size());
    entries[12].Value = le(std::vector<std::uint32_t>(tiles, data), 4);
    TBytes dng = {'I', 'I', 42, 0, 8, 0, 0, 0};
    TBytes values;
    const TBytes count = le({static_cast<std::uint32_t>(entries.size())}, 2);
    dng.insert(dng.end(), count.begin(), count.end());
    for (const TEntry& e : entries) {
        const TBytes head = le({e.Tag, e.Type}, 2), n = le({e.Count}, 4);
        dng.insert(dng.end(), head.begin(), head.end());
        dng.insert(dng.end(), n.begin(), n.end());
        TBytes field = e.Value;
        if (field.size() > 4) {
            field = le({8 + ifdBytes + static_cast<std::uint32_t>(values.size())}, 4);
            values.insert(values.end(), e.Value.begin(), e.Value.end());
        }
        field.resize(4, 0);
        dng.insert(dng.end(), field.begin(), field.end());
    }
    dng.insert(dng.end(), {0, 0, 0, 0});
    dng.insert(dng.end(), values.begin(), values.end());
    dng.insert(dng.end(), jpeg.begin(), jpeg.end());
    return dng;
}

// LibRaw holds the sensor, its four-channel half-size picture and the
// picture it hands out: 20000 x 20000 is refused before any of them, and
// 19500 x 19500, below the limit, decodes within the promise (2.11 GB).
TEST_F(Memory, AHugeDngOfGarbageIsRefusedOrStaysInTheBudget)
{
    const std::string path = File("garbage.dng");
    Write(path, GarbageDng(20000));
    ExpectRefused(Run(Points(path)), "the declared size 10000 x 10000 needs more than 2 GiB of memory");

    Write(path, GarbageDng(19500));
    const TChildRun r = Run(Points(path), 4ull << 30);
    EXPECT_TRUE(r.Exited);
    EXPECT_EQ(r.Err.find("Cannot load"), std::string::npos) << r.Err;
    EXPECT_LT(r.PeakKiB, 2'200'000'000 / 1024);
}

// FITS: a header of many cards, one large compressed tile, a GZIP tile that
// inflates to far more than its tile, and a plain picture whose file does not
// end on a whole block. The time ceilings are generous: the faults they
// catch took minutes.
using vinsk::test::FitsCard;
using vinsk::test::FitsHeader;
using vinsk::test::GzipRepeated;
using vinsk::test::MakeCompressedFits16;

TBytes PlainFits16(int width, int height, const std::vector<std::string>& extraCards = {})
{
    std::vector<std::string> cards = {FitsCard("SIMPLE", "T"), FitsCard("BITPIX", "16"), FitsCard("NAXIS", "2"),
                                      FitsCard("NAXIS1", std::to_string(width)),
                                      FitsCard("NAXIS2", std::to_string(height))};
    cards.insert(cards.end(), extraCards.begin(), extraCards.end());
    TBytes fits = FitsHeader(cards);
    // A faint diagonal, so that the picture has a range.
    const std::size_t start = fits.size();
    fits.resize(start + static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 2, 0);
    for (int i = 0; i < std::min(width, height); ++i)
        fits[start + (static_cast<std::size_t>(i) * static_cast<std::size_t>(width) + static_cast<std::size_t>(i)) * 2 + 1] = 50;
    return fits;
}

TEST_F(Memory, AFitsHeaderOfManyCardsIsCheckedInLinearTime)
{
    // 9.2 MB of cards that name a divisor: each was checked against all
    // others (224 s).
    Write(File("cards.fits"), PlainFits16(8, 8, std::vector<std::string>(115000, "ZNAME1  = 'BLOCKSIZE'")));
    const TChildRun r = Run(Points(File("cards.fits"), "1,1", "6,3", "3,5"));
    ExpectLoaded(r);
    EXPECT_LT(r.Seconds, 30.0);
}

TEST_F(Memory, OneLargeCompressedTileIsDecompressedOnce)
{
    // 4096 x 4096 in one GZIP tile of 40 KB: read row by row, the tile was
    // decompressed for every row (150 s).
    TBytes row;
    for (int x = 0; x < 4096; ++x)
        row.insert(row.end(), {0, static_cast<std::uint8_t>(x % 200)});
    Write(File("one-tile.fits.fz"), MakeCompressedFits16(4096, 4096, 4096, 4096, "GZIP_1", {GzipRepeated(row, 4096)}));
    const TChildRun r = Run(Points(File("one-tile.fits.fz")));
    EXPECT_TRUE(r.Exited);
    EXPECT_EQ(r.Err.find("Cannot load"), std::string::npos) << r.Err;
    // The raster, the plane and cfitsio's buffers for the one tile.
    EXPECT_LT(r.PeakKiB, 512 * 1024);
    EXPECT_LT(r.Seconds, 30.0);
}

// 15000 x 15000 in one GZIP tile: the raster and the plane take 1.8 GB, and
// cfitsio's buffers for the tile 0.9 GB more (it peaked at 2.7 GB).
TEST_F(Memory, CfitsiosTileBuffersCountInTheBudget)
{
    TBytes row;
    for (int x = 0; x < 15000; ++x)
        row.insert(row.end(), {0, static_cast<std::uint8_t>(x % 200)});
    Write(File("large-tile.fits.fz"),
          MakeCompressedFits16(15000, 15000, 15000, 15000, "GZIP_1", {GzipRepeated(row, 15000)}));
    ExpectRefused(Run(Points(File("large-tile.fits.fz"))), "the declared size 15000 x 15000 needs more than 2 GiB of memory");
}

TEST_F(Memory, AGzipTileBombIsRefusedBeforeItInflates)
{
    // The first of 400 row tiles of 1440 bytes inflates to 512 MB: cfitsio
    // grew its buffer to hold it all before it found the size wrong.
    std::vector<TBytes> tiles(400, GzipRepeated(TBytes(1440, 0), 1));
    tiles[0] = GzipRepeated(TBytes(1 << 20, 0), 512);
    Write(File("bomb.fits.fz"), MakeCompressedFits16(720, 400, 720, 1, "GZIP_1", tiles));
    ExpectRefused(Run(Points(File("bomb.fits.fz"))), "the compressed tile 1 is damaged");
}

TEST_F(Memory, APlainFitsThatEndsInsideABlockIsNotCopied)
{
    // The same picture with and without the padding of its last block; the
    // short one was copied whole to pad it.
    TBytes fits = PlainFits16(4000, 4000);
    const std::size_t picture = fits.size();
    Write(File("short.fits"), fits);
    fits.resize((picture + 2879) / 2880 * 2880, 0);
    ASSERT_GT(fits.size(), picture);
    Write(File("padded.fits"), fits);
    const TChildRun padded = Run(Points(File("padded.fits")));
    const TChildRun cut = Run(Points(File("short.fits")));
    EXPECT_EQ(padded.Err.find("Cannot load"), std::string::npos) << padded.Err;
    EXPECT_EQ(cut.Err.find("Cannot load"), std::string::npos) << cut.Err;
    // The copy was 32 MB.
    EXPECT_LT(cut.PeakKiB, padded.PeakKiB + 12 * 1024) << "padded " << padded.PeakKiB << " KiB";
}

} // namespace
