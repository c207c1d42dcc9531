#include "vexa/view/uiinit.h"

#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QPalette>
#include <QScreen>
#include <QtEndian>
#include <cmath>

#include "vexa/core/clipboard.h"
#include "vexa/core/textservice.h"
#include "vexa/core/vxview.h"
#include "vexa/view/textservice_ui.h"

namespace vexa {

namespace {

const char* const kDibMime = "application/x-vexa-dib";

// CF_DIB travels as our own MIME type for exact round trips, and as an image so
// that other programs can paste it.
class TVXQtClipboard : public TVXClipboard {
 public:
  bool Open() override {
    if (FOpen) return false;
    FOpen = true;
    return true;
  }
  void Close() override { FOpen = false; }
  void Empty() override { QGuiApplication::clipboard()->clear(); }
  void SetData(unsigned format, std::vector<uint8_t> data) override {
    if (format != CF_DIB) return;
    auto* mime = new QMimeData;
    const QByteArray dib(reinterpret_cast<const char*>(data.data()), static_cast<qsizetype>(data.size()));
    mime->setData(kDibMime, dib);
    const QImage img = DibToImage(dib);
    if (!img.isNull()) mime->setImageData(img);
    QGuiApplication::clipboard()->setMimeData(mime);
  }
  bool HasFormat(unsigned format) const override {
    if (format != CF_DIB) return false;
    const QMimeData* m = QGuiApplication::clipboard()->mimeData();
    return m && (m->hasFormat(kDibMime) || m->hasImage());
  }
  std::vector<uint8_t> GetData(unsigned format) const override {
    if (format != CF_DIB) return {};
    const QMimeData* m = QGuiApplication::clipboard()->mimeData();
    if (!m) return {};
    QByteArray bytes;
    if (m->hasFormat(kDibMime)) {
      bytes = m->data(kDibMime);
    } else if (m->hasImage()) {
      // A BMP file is a 14-byte file header followed by the DIB.
      QBuffer buf;
      buf.open(QIODevice::WriteOnly);
      qvariant_cast<QImage>(m->imageData()).convertToFormat(QImage::Format_RGB888).save(&buf, "BMP");
      bytes = buf.data().mid(14);
    }
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
  }

 private:
  static QImage DibToImage(const QByteArray& dib) {
    if (dib.size() < 40) return {};
    const auto* d = reinterpret_cast<const uchar*>(dib.constData());
    const uint32_t headerSize = qFromLittleEndian<quint32>(d);
    const uint16_t bits = qFromLittleEndian<quint16>(d + 14);
    const uint32_t compression = qFromLittleEndian<quint32>(d + 16);
    const uint32_t used = qFromLittleEndian<quint32>(d + 32);
    // The pixels start after the header, the palette and (for bit fields) three masks.
    uint32_t palette = bits <= 8 ? 4u * (used ? used : (1u << bits)) : 4u * used;
    if (compression == 3 && headerSize == 40) palette += 12;
    QByteArray file("BM", 2);
    auto put32 = [&](uint32_t v) { file.append(reinterpret_cast<const char*>(&v), 4); };
    put32(static_cast<uint32_t>(14 + dib.size()));
    put32(0);
    put32(14 + headerSize + palette);
    file.append(dib);
    return QImage::fromData(file, "BMP");
  }
  bool FOpen = false;
};

}  // namespace

void VXInitUI() {
  static bool done = false;
  // instance() is any application object; a QCoreApplication has no screen or palette.
  if (done || !qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return;
  done = true;
  if (const QScreen* s = QGuiApplication::primaryScreen()) {
    gSystemDPIX = static_cast<int>(std::lround(s->logicalDotsPerInchX()));
    gSystemDPIY = static_cast<int>(std::lround(s->logicalDotsPerInchY()));
    gSystemColors = s->depth();
  }
  const QPalette pal = QGuiApplication::palette();
  auto set = [](int index, const QColor& c) { VXSetSystemColor(index, RGB2TColor(c.red(), c.green(), c.blue())); };
  set(5, pal.color(QPalette::Base));
  set(8, pal.color(QPalette::Text));
  set(13, pal.color(QPalette::Highlight));
  set(14, pal.color(QPalette::HighlightedText));
  set(15, pal.color(QPalette::Button));
  set(18, pal.color(QPalette::ButtonText));
  static TVXQtClipboard clipboard;
  VXSetClipboard(&clipboard);
  VXSetTextService(&VXQtTextService());
}

}  // namespace vexa
