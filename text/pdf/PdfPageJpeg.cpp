// SPDX-License-Identifier: GPL-3.0-or-later
#include "text/pdf/PdfPageJpeg.h"

#include "text/pdf/JpegHeader.h"

#include <QTransform>

#include <qpdf/Buffer.hh>
#include <qpdf/BufferInputSource.hh>
#include <qpdf/Pipeline.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFTokenizer.hh>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

using Oh = QPDFObjectHandle;

struct PdfJpegPages::Impl {
    QPDF pdf;
    std::vector<QPDFPageObjectHelper> pages;
};

namespace {

bool IsName(Oh o, const char* name)
{
    return o.isName() && o.getName() == name;
}

bool Absent(Oh dict, const char* key)
{
    return !dict.hasKey(key) || dict.getKey(key).isNull();
}

// A decoded content stream, cut off beyond the limit.
class CappedBytes : public Pipeline {
public:
    explicit CappedBytes(std::string& out) : Pipeline("content", nullptr), out_(out) {}
    void write(unsigned char const* data, size_t len) override
    {
        if (qint64(out_.size() + len) > kPdfLoneJpegContentLimit)
            throw std::length_error("content stream too long");
        out_.append(reinterpret_cast<const char*>(data), len);
    }
    void finish() override {}

private:
    std::string& out_;
};

bool Decoded(Oh stream, std::string& out)
{
    if (!stream.isStream())
        return false;
    CappedBytes capped(out);
    bool filtered = false;
    // Unfiltered, or decoded; never a filter qpdf left as it was.
    return stream.pipeStreamData(&capped, &filtered, 0, qpdf_dl_generalized, true)
           && (filtered || Absent(stream.getDict(), "/Filter"));
}

// The page's content, its streams one after the other as a reader joins them.
std::optional<std::string> ContentOf(QPDFPageObjectHelper& page)
{
    Oh contents = page.getObjectHandle().getKey("/Contents");
    std::string all;
    if (contents.isStream())
        return Decoded(contents, all) ? std::optional(all) : std::nullopt;
    if (!contents.isArray())
        return std::nullopt;
    for (int i = 0; i < contents.getArrayNItems(); ++i) {
        std::string one;
        if (!Decoded(contents.getArrayItem(i), one) || qint64(all.size() + one.size()) > kPdfLoneJpegContentLimit)
            return std::nullopt;
        all += one;
        all += '\n';
    }
    return all;
}

// Follows what the content does to the picture, token by token (no object
// is made of an operand), refusing at the first operator that could show
// anything else or show it otherwise.
class ContentCheck {
public:
    explicit ContentCheck(Oh xobjects) : xobjects_(std::move(xobjects)) {}

    int drawn = 0;
    Oh image;
    QTransform placed;

    // False when the content is refused.
    bool Run(const std::string& content)
    {
        auto input = std::make_shared<BufferInputSource>("content", content);
        QPDFTokenizer tokenizer;
        tokenizer.allowEOF();
        int depth = 0;  // inside an array or dictionary operand
        for (;;) {
            const QPDFTokenizer::Token token = tokenizer.readToken(input, "content", true);
            switch (token.getType()) {
            case QPDFTokenizer::tt_eof:
                return depth == 0 && operands_.empty() && stack_.empty();
            case QPDFTokenizer::tt_array_open:
            case QPDFTokenizer::tt_dict_open:
                if (++depth > 32)
                    return false;
                break;
            case QPDFTokenizer::tt_array_close:
            case QPDFTokenizer::tt_dict_close:
                if (--depth < 0)
                    return false;
                if (depth == 0)
                    operands_.push_back({Operand::Compound, {}});
                break;
            case QPDFTokenizer::tt_integer:
            case QPDFTokenizer::tt_real:
                if (depth == 0)
                    operands_.push_back({token.getType() == QPDFTokenizer::tt_integer ? Operand::Integer : Operand::Real,
                                         token.getValue()});
                break;
            case QPDFTokenizer::tt_name:
                if (depth == 0)
                    operands_.push_back({Operand::Name, token.getValue()});
                break;
            case QPDFTokenizer::tt_string:
            case QPDFTokenizer::tt_bool:
            case QPDFTokenizer::tt_null:
                if (depth == 0)
                    operands_.push_back({Operand::Other, {}});
                break;
            case QPDFTokenizer::tt_word:
                if (depth != 0 || !Operator(token.getValue()))
                    return false;
                operands_.clear();
                break;
            case QPDFTokenizer::tt_space:
            case QPDFTokenizer::tt_comment:
                break;
            default:  // bad tokens, braces, inline image data
                return false;
            }
            if (operands_.size() > 64)
                return false;
        }
    }

private:
    struct Operand {
        enum Kind { Integer, Real, Name, Compound, Other } kind;
        std::string text;
    };
    struct State {
        QTransform ctm;
        int textMode = 0;
    };

    bool Number(size_t i, double& v) const
    {
        if (i >= operands_.size() || (operands_[i].kind != Operand::Integer && operands_[i].kind != Operand::Real))
            return false;
        bool ok = false;
        v = QByteArray::fromStdString(operands_[i].text).toDouble(&ok);
        return ok && std::isfinite(v);
    }

    bool Operator(const std::string& op)
    {
        static const std::vector<std::string> harmless{
            // text objects and their state; text is shown only as Tr allows
            "BT", "ET", "Tc", "Tw", "Tz", "TL", "Tf", "Ts", "Td", "TD", "Tm", "T*",
            // colours and line state: nothing is painted with them here
            "g", "G", "rg", "RG", "k", "K", "cs", "CS", "sc", "SC", "scn", "SCN", "w", "J", "j", "M", "d", "ri", "i",
            // a path that is only ended, never painted or clipped with
            "m", "l", "c", "v", "y", "h", "re", "n",
            // marked content other than optional content, compatibility
            "MP", "DP", "BMC", "EMC", "BX", "EX"};
        if (op == "q") {
            if (stack_.size() >= 64)
                return false;
            stack_.push_back(state_);
        } else if (op == "Q") {
            if (stack_.empty())
                return false;
            state_ = stack_.back();
            stack_.pop_back();
        } else if (op == "cm") {
            double m[6];
            if (operands_.size() != 6)
                return false;
            for (size_t i = 0; i < 6; ++i)
                if (!Number(i, m[i]))
                    return false;
            state_.ctm = QTransform(m[0], m[1], m[2], m[3], m[4], m[5]) * state_.ctm;
        } else if (op == "Tr") {
            if (operands_.size() != 1 || operands_[0].kind != Operand::Integer)
                return false;
            state_.textMode = QByteArray::fromStdString(operands_[0].text).toInt();
        } else if (op == "Tj" || op == "TJ" || op == "'" || op == "\"") {
            return state_.textMode == 3;
        } else if (op == "BDC") {
            return operands_.empty() || operands_[0].kind != Operand::Name || operands_[0].text != "/OC";
        } else if (op == "Do") {
            if (operands_.size() != 1 || operands_[0].kind != Operand::Name || ++drawn > 1 || !xobjects_.isDictionary())
                return false;
            Oh x = xobjects_.getKey(operands_[0].text);
            if (!x.isStream() || !IsName(x.getDict().getKey("/Subtype"), "/Image"))
                return false;
            image = x;
            placed = state_.ctm;
        } else if (std::find(harmless.begin(), harmless.end(), op) == harmless.end()) {
            // painting, clipping, shading, inline images, graphics state
            // dictionaries, Type 3 glyph operators, anything unknown
            return false;
        }
        return true;
    }

    Oh xobjects_;
    std::vector<Operand> operands_;
    State state_;
    std::vector<State> stack_;
};

// The colours the image's dictionary gives its decoded samples, as the
// program's decoder takes the JPEG's.
bool ColoursAgree(Oh dict, const JpegHeader& header)
{
    Oh space = dict.getKey("/ColorSpace");
    Oh parms = dict.getKey("/DecodeParms");
    if (parms.isArray() && parms.getArrayNItems() == 1)
        parms = parms.getArrayItem(0);
    if (!parms.isNull() && !parms.isDictionary())
        return false;
    Oh transform = parms.isDictionary() ? parms.getKey("/ColorTransform") : Oh::newNull();
    if (parms.isDictionary())
        for (const std::string& key : parms.getKeys())
            if (key != "/ColorTransform")
                return false;
    Oh decode = dict.getKey("/Decode");
    switch (JpegColourOf(header)) {
    case JpegColour::Grey:
        return IsName(space, "/DeviceGray") && decode.isNull() && transform.isNull();
    case JpegColour::YCbCr:
        return IsName(space, "/DeviceRGB") && decode.isNull()
               && (transform.isNull() || (transform.isInteger() && transform.getIntValue() == 1));
    case JpegColour::Rgb:
        return IsName(space, "/DeviceRGB") && decode.isNull() && transform.isInteger()
               && transform.getIntValue() == 0;
    case JpegColour::InvertedCmyk: {
        if (!IsName(space, "/DeviceCMYK") || !decode.isArray() || decode.getArrayNItems() != 8 || !transform.isNull())
            return false;
        for (int i = 0; i < 8; ++i) {
            Oh v = decode.getArrayItem(i);
            if (!v.isNumber() || v.getNumericValue() != (i % 2 == 0 ? 1.0 : 0.0))
                return false;
        }
        return true;
    }
    case JpegColour::Ambiguous:
        break;
    }
    return false;
}

bool Near(double a, double b, double side)
{
    return std::abs(a - b) <= std::max(0.5, side * 0.002);
}

}  // namespace

PdfJpegPages::PdfJpegPages(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
PdfJpegPages::~PdfJpegPages() = default;

std::unique_ptr<PdfJpegPages> PdfJpegPages::Open(int fd, int pageCount)
{
    // A description of its own, so that its reading position is not
    // poppler's.
    const int own = ::open(QByteArray("/proc/self/fd/" + QByteArray::number(fd)).constData(), O_RDONLY | O_CLOEXEC);
    if (own < 0)
        return nullptr;
    FILE* file = ::fdopen(own, "rb");
    if (!file) {
        ::close(own);
        return nullptr;
    }
    try {
        auto impl = std::make_unique<Impl>();
        impl->pdf.setSuppressWarnings(true);
        impl->pdf.setAttemptRecovery(false);
        // qpdf owns the file from here on, and closes it even when it
        // throws.
        FILE* given = file;
        file = nullptr;
        impl->pdf.processFile("PDF", given, true);
        if (impl->pdf.isEncrypted())
            return nullptr;
        impl->pages = QPDFPageDocumentHelper(impl->pdf).getAllPages();
        if (int(impl->pages.size()) != pageCount || impl->pdf.anyWarnings())
            return nullptr;
        return std::unique_ptr<PdfJpegPages>(new PdfJpegPages(std::move(impl)));
    } catch (const std::exception&) {
        if (file)
            ::fclose(file);
        return nullptr;
    }
}

std::optional<PdfPageJpeg> PdfJpegPages::LoneJpeg(int index, const QSizeF& pageSize, qint64 pixelLimit) const
{
    if (index < 0 || index >= int(impl_->pages.size()))
        return std::nullopt;
    try {
        QPDFPageObjectHelper& page = impl_->pages[size_t(index)];
        Oh dict = page.getObjectHandle();
        Oh rotate = page.getAttribute("/Rotate", false);
        if (!rotate.isNull() && !(rotate.isInteger() && rotate.getIntValue() % 360 == 0))
            return std::nullopt;
        Oh unit = dict.getKey("/UserUnit");
        if (!unit.isNull() && !(unit.isNumber() && unit.getNumericValue() == 1.0))
            return std::nullopt;
        Oh annots = dict.getKey("/Annots");
        if (!annots.isNull() && !(annots.isArray() && annots.getArrayNItems() == 0))
            return std::nullopt;
        Oh boxObject = page.getCropBox();
        if (!boxObject.isRectangle())
            return std::nullopt;
        const Oh::Rectangle box = boxObject.getArrayAsRectangle();
        const double boxW = box.urx - box.llx, boxH = box.ury - box.lly;
        if (!Near(boxW, pageSize.width(), pageSize.width()) || !Near(boxH, pageSize.height(), pageSize.height()))
            return std::nullopt;

        const std::optional<std::string> content = ContentOf(page);
        if (!content)
            return std::nullopt;
        Oh resources = page.getAttribute("/Resources", false);
        ContentCheck check(resources.isDictionary() ? resources.getKey("/XObject") : Oh::newNull());
        if (!check.Run(*content) || check.drawn != 1)
            return std::nullopt;

        // Drawn onto the crop box, upright.
        const QTransform& m = check.placed;
        if (std::abs(m.m12()) > 1e-6 || std::abs(m.m21()) > 1e-6 || m.m11() <= 0 || m.m22() <= 0)
            return std::nullopt;
        if (!Near(m.dx(), box.llx, boxW) || !Near(m.dy(), box.lly, boxH) || !Near(m.m11(), boxW, boxW)
            || !Near(m.m22(), boxH, boxH))
            return std::nullopt;

        Oh image = check.image;
        Oh idict = image.getDict();
        Oh filter = idict.getKey("/Filter");
        if (filter.isArray() && filter.getArrayNItems() == 1)
            filter = filter.getArrayItem(0);
        if (!IsName(filter, "/DCTDecode"))
            return std::nullopt;
        for (const char* key : {"/SMask", "/Mask", "/OC", "/SMaskInData"})
            if (!Absent(idict, key))
                return std::nullopt;
        Oh mask = idict.getKey("/ImageMask");
        if (!mask.isNull() && !(mask.isBool() && !mask.getBoolValue()))
            return std::nullopt;
        Oh bits = idict.getKey("/BitsPerComponent"), width = idict.getKey("/Width"),
                 height = idict.getKey("/Height"), length = idict.getKey("/Length");
        if (!bits.isInteger() || bits.getIntValue() != 8 || !width.isInteger() || !height.isInteger()
            || (length.isInteger() && length.getIntValue() > kPdfLoneJpegLimit))
            return std::nullopt;
        if (width.getIntValue() * height.getIntValue() > pixelLimit)
            return std::nullopt;

        const std::shared_ptr<Buffer> raw = image.getRawStreamData();
        if (!raw || qint64(raw->getSize()) > kPdfLoneJpegLimit)
            return std::nullopt;
        PdfPageJpeg jpeg;
        jpeg.bytes = QByteArray(reinterpret_cast<const char*>(raw->getBuffer()), qsizetype(raw->getSize()));
        const std::optional<JpegHeader> header = ReadJpegHeader(jpeg.bytes);
        if (!header || header->width != width.getIntValue() || header->height != height.getIntValue()
            || !ColoursAgree(idict, *header))
            return std::nullopt;
        jpeg.size = QSize(header->width, header->height);
        return jpeg;
    } catch (const std::exception&) {
        impl_->pdf.getWarnings();
        return std::nullopt;
    }
}
