// The Qt image-format plug-in: any Qt program reads (and, where we write, writes)
// through our codecs. PCX, TGA, TIFF (CCITT and LZW pages included), ICO and CUR
// are offered by file suffix and content; every other format of ours on request by
// the name "vexa-<suffix>" (QImageReader(file, "vexa-gif")).
#include <QImageIOHandler>
#include <QImageIOPlugin>
#include <QImageReader>
#include <QIODevice>
#include <QVariant>

#include "vexa/codecs/lzw.h"
#include "vexa/io/detect.h"
#include "vexa/io/formats.h"
#include "vexa/io/vexaio.h"
#include "vexa/view/qtbitmap_ui.h"

namespace {

using namespace vexa;

// Types offered without being asked by name: Qt has none of its own, or a weaker one.
bool OfferedByDefault(int type) {
  return type == ioPCX || type == ioTGA || type == ioTIFF || type == ioICO || type == ioCUR;
}

bool Writable(int type) {
  return type == ioTIFF || type == ioGIF || type == ioJPEG || type == ioPCX || type == ioBMP || type == ioPNG ||
         type == ioTGA;
}

// The file type a format name stands for: "tif", "vexa-tif", "vexa-jpeg"; 0 if none.
int TypeOfName(const QByteArray& name) {
  QByteArray ext = name.toLower();
  const bool named = ext.startsWith("vexa-");
  if (named) ext = ext.mid(5);
  const TVXFileFormatInfo* info = VXFileFormatGetInfo2(ext.toStdString());
  if (!info) return 0;
  return named || OfferedByDefault(info->FileType) ? info->FileType : 0;
}

int TypeOfContent(QIODevice* device) {
  // Enough for every signature; TGA has none and is recognised by its header.
  const QByteArray head = device->peek(64 * 1024);
  if (head.isEmpty()) return 0;
  TMemoryStream stream(head.constData(), static_cast<size_t>(head.size()));
  return FindStreamFormat(stream);
}

class TVexaImageHandler : public QImageIOHandler {
 public:
  explicit TVexaImageHandler(int type) : FType(type) {}

  bool canRead() const override {
    if (!device() || !TypeOfContent(device())) return false;
    setFormat(format().isEmpty() ? QByteArray("vexa") : format());
    return true;
  }

  bool read(QImage* image) override {
    if (!Load()) return false;
    *image = VXBitmapToQImage(FBitmap);
    return !image->isNull();
  }

  bool write(const QImage& image) override {
    if (!Writable(FType) || image.isNull()) return false;
    TBitmap bmp;
    VXQImageToBitmap(image, bmp);
    TVexaIO io;
    io.SetAttachedBitmap(&bmp);
    TMemoryStream stream;
    io.SaveToStream(stream, FType);
    if (io.Aborting) return false;
    const QByteArray bytes(reinterpret_cast<const char*>(stream.Memory()), static_cast<qsizetype>(stream.Size()));
    return device()->write(bytes) == bytes.size();
  }

  bool supportsOption(ImageOption option) const override { return option == Size; }

  QVariant option(ImageOption option) const override {
    if (option != Size || !device()) return {};
    TVexaIO io;
    TBitmap bmp;
    io.SetAttachedBitmap(&bmp);
    const QByteArray head = device()->peek(device()->isSequential() ? 64 * 1024 : device()->size());
    TMemoryStream stream(head.constData(), static_cast<size_t>(head.size()));
    io.ParamsFromStream(stream);
    if (io.Params.FileType == 0) return {};
    return QSize(io.Params.Width, io.Params.Height);
  }

 private:
  bool Load() {
    if (FLoaded) return !FBitmap.Empty();
    FLoaded = true;
    const QByteArray bytes = device()->readAll();
    TMemoryStream stream(bytes.constData(), static_cast<size_t>(bytes.size()));
    TVexaIO io;
    io.SetAttachedBitmap(&FBitmap);
    // Qt's allocation limit (in MiB) covers the 32-bit image we hand over; refuse
    // before decoding anything.
    io.ParamsFromStream(stream);
    if (io.Params.FileType == 0) return false;
    const int64_t limit = static_cast<int64_t>(QImageReader::allocationLimit()) * 1024 * 1024;
    const int64_t bytesNeeded = int64_t{io.Params.Width} * io.Params.Height * 4;
    if (limit > 0 && bytesNeeded > limit) {
      qWarning("vexa image plug-in: %dx%d image exceeds the allocation limit of %d MiB", io.Params.Width,
               io.Params.Height, QImageReader::allocationLimit());
      return false;
    }
    stream.Seek(0, soBeginning);
    io.LoadFromStream(stream);
    if (io.Aborting) FBitmap.Assign(TBitmap());
    return !FBitmap.Empty();
  }

  int FType;
  bool FLoaded = false;
  TBitmap FBitmap;
};

class TVexaImagePlugin : public QImageIOPlugin {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID QImageIOHandlerFactoryInterface_iid FILE "vexa.json")

 public:
  TVexaImagePlugin() { VXInstallLZWCoders(); }

  Capabilities capabilities(QIODevice* device, const QByteArray& format) const override {
    int type = TypeOfName(format);
    if (!format.isEmpty() && type == 0) return {};
    if (type == 0 && device && device->isReadable()) {
      type = TypeOfContent(device);
      if (!OfferedByDefault(type)) return {};
    }
    Capabilities caps;
    if (device && device->isReadable()) caps |= CanRead;
    if ((!device || device->isWritable()) && Writable(type)) caps |= CanWrite;
    return caps;
  }

  QImageIOHandler* create(QIODevice* device, const QByteArray& format) const override {
    auto* handler = new TVexaImageHandler(TypeOfName(format));
    handler->setDevice(device);
    handler->setFormat(format);
    return handler;
  }
};

}  // namespace

#include "vexaimageplugin.moc"
