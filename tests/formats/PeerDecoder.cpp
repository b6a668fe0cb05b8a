#include "formats/PeerDecoder.h"

#include <cstdio>
#include <sstream>

#include "support/TestSupport.h"

namespace tilvorn::test::peer {

namespace {

const char* const kConvert = "/usr/bin/convert";
const char* const kPython = "/usr/bin/python3";

std::string Quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += (c == '\'') ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

int NextScratchNumber() {
    static int counter = 0;
    return ++counter;
}

std::string ScratchFile(const char* extension) {
    static const std::string dir = TempDir("peer-decoder");
    return dir + "/" + std::to_string(NextScratchNumber()) + extension;
}

// PAM as ImageMagick writes it: a text header, then samples of one or two bytes, big-endian.
PeerPicture ParsePam(const std::vector<unsigned char>& bytes) {
    PeerPicture picture;
    const std::string marker = "ENDHDR\n";
    std::string text(bytes.begin(), bytes.begin() + std::min<size_t>(bytes.size(), 512));
    size_t end = text.find(marker);
    if (text.rfind("P7\n", 0) != 0 || end == std::string::npos) return picture;
    std::istringstream header(text.substr(3, end - 3));
    int width = 0, height = 0, depth = 0, maxval = 0;
    std::string key, tupleType;
    while (header >> key) {
        if (key == "WIDTH")
            header >> width;
        else if (key == "HEIGHT")
            header >> height;
        else if (key == "DEPTH")
            header >> depth;
        else if (key == "MAXVAL")
            header >> maxval;
        else if (key == "TUPLTYPE")
            header >> tupleType;
    }
    if (width <= 0 || height <= 0 || depth < 1 || depth > 4 || maxval <= 0) return picture;
    const size_t sampleBytes = maxval > 255 ? 2 : 1;
    const unsigned char* data = bytes.data() + end + marker.size();
    if (bytes.size() - (end + marker.size()) < size_t(width) * height * depth * sampleBytes) return picture;
    auto sample = [&](size_t i) -> uint32_t {
        uint32_t v = sampleBytes == 2 ? (uint32_t(data[2 * i]) << 8 | data[2 * i + 1]) : data[i];
        return v * 65535u / uint32_t(maxval);
    };
    picture.Width = width;
    picture.Height = height;
    picture.HasAlpha = depth == 2 || (depth == 4 && tupleType != "CMYK");
    picture.Rgba.resize(size_t(width) * height * 4);
    for (size_t p = 0; p < size_t(width) * height; ++p) {
        uint16_t* out = &picture.Rgba[p * 4];
        size_t s = p * depth;
        if (tupleType == "CMYK" && depth == 4) {
            // ImageMagick keeps CMYK pictures as inks: make red, green and blue of them.
            const uint32_t k = sample(s + 3);
            for (int c = 0; c < 3; ++c) out[c] = uint16_t((65535 - sample(s + c)) * (65535 - k) / 65535);
            out[3] = 65535;
        } else if (depth <= 2) {
            out[0] = out[1] = out[2] = uint16_t(sample(s));
            out[3] = depth == 2 ? uint16_t(sample(s + 1)) : 65535;
        } else {
            for (int c = 0; c < 3; ++c) out[c] = uint16_t(sample(s + c));
            out[3] = depth == 4 ? uint16_t(sample(s + 3)) : 65535;
        }
    }
    return picture;
}

}  // namespace

bool HaveImageMagick() { return HaveTool(kConvert); }

bool HavePillow() {
    static const bool have = HaveTool(kPython) && Run(std::string(kPython) + " -c 'import PIL' 2>/dev/null") == 0;
    return have;
}

PeerPicture DecodeWithImageMagick(const std::string& path, const std::string& options) {
    if (!HaveImageMagick()) return {};
    std::string out = ScratchFile(".pam");
    std::string command = std::string(kConvert) + " " + Quoted(path + "[0]") + " " + options +
        " -depth 16 pam:" + Quoted(out) + " >/dev/null 2>&1";
    // ImageMagick warns about (and still writes) files its own library finds short.
    Run(command);
    return ParsePam(ReadFileBytes(out));
}

PeerPicture DecodeWithPillow(const std::string& path) {
    if (!HavePillow()) return {};
    std::string out = ScratchFile(".pam");
    // Pillow has no PAM writer: write the header and the RGBA bytes ourselves.
    std::string script =
        "import sys\n"
        "from PIL import Image\n"
        "im = Image.open(sys.argv[1]); im.seek(0)\n"
        "alpha = 'A' in im.getbands() or 'transparency' in im.info\n"
        "data = im.convert('RGBA').tobytes()\n"
        "hdr = 'P7\\nWIDTH %d\\nHEIGHT %d\\nDEPTH 4\\nMAXVAL 255\\nTUPLTYPE RGB_ALPHA\\nENDHDR\\n' % im.size\n"
        "open(sys.argv[2], 'wb').write(hdr.encode() + data)\n"
        "print('alpha' if alpha else 'opaque')\n";
    std::string scriptFile = ScratchFile(".py");
    WriteFileBytes(scriptFile, std::vector<unsigned char>(script.begin(), script.end()));
    std::string flagFile = ScratchFile(".txt");
    if (Run(std::string(kPython) + " " + Quoted(scriptFile) + " " + Quoted(path) + " " + Quoted(out) + " >" +
            Quoted(flagFile) + " 2>/dev/null") != 0)
        return {};
    PeerPicture picture = ParsePam(ReadFileBytes(out));
    auto flag = ReadFileBytes(flagFile);
    picture.HasAlpha = !flag.empty() && flag[0] == 'a';
    return picture;
}

}  // namespace tilvorn::test::peer

#include "image/DIB.h"

namespace tilvorn::test::peer {

BitmapPicture PictureOf(TDIB& bitmap) {
    BitmapPicture picture;
    picture.Width = bitmap.Width();
    picture.Height = bitmap.Height();
    picture.Rgba.resize(size_t(picture.Width) * picture.Height * 4);
    const int bits = bitmap.BitCount();
    const TColorTable& table = bitmap.Image()->ColorTable;
    for (int y = 0; y < picture.Height; ++y) {
        const uint8_t* row = bitmap.ScanLine(y);
        for (int x = 0; x < picture.Width; ++x) {
            uint8_t* out = &picture.Rgba[(size_t(y) * picture.Width + x) * 4];
            out[3] = 255;
            if (bits <= 8) {
                const int perByte = 8 / bits;
                const int shift = 8 - bits * (x % perByte + 1);
                const int index = (row[x / perByte] >> shift) & ((1 << bits) - 1);
                out[0] = table[index].rgbRed;
                out[1] = table[index].rgbGreen;
                out[2] = table[index].rgbBlue;
            } else if (bits == 16) {
                // 5-5-5: each 5-bit value widened with its top bits repeated below.
                uint32_t v = uint32_t(row[2 * x] | row[2 * x + 1] << 8);
                auto widen = [](uint32_t five) { return uint8_t(five << 3 | five >> 2); };
                out[0] = widen(v >> 10 & 31);
                out[1] = widen(v >> 5 & 31);
                out[2] = widen(v & 31);
            } else {
                const int step = bits / 8;
                out[0] = row[x * step + 2];
                out[1] = row[x * step + 1];
                out[2] = row[x * step];
                if (step == 4) out[3] = row[x * step + 3];
            }
        }
    }
    return picture;
}

}  // namespace tilvorn::test::peer
