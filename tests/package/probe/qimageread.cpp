// A plain Qt program with no Vexa code: reads one image with QImageReader, as any
// Qt application would, and prints the format, size and a checksum of the pixels.
//     qimageread FILE [ALLOCATION_LIMIT_MIB]
#include <QCoreApplication>
#include <QImage>
#include <QImageReader>
#include <cstdio>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc < 2) return 2;
  if (argc > 2) QImageReader::setAllocationLimit(QByteArray(argv[2]).toInt());
  QImageReader reader(QString::fromLocal8Bit(argv[1]));
  const QByteArray format = reader.format();
  const QImage image = reader.read();
  if (image.isNull()) {
    std::printf("error: %s\n", qPrintable(reader.errorString()));
    return 1;
  }
  const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
  quint32 sum = 0;
  for (int y = 0; y < rgb.height(); ++y) {
    const auto* row = reinterpret_cast<const quint32*>(rgb.constScanLine(y));
    for (int x = 0; x < rgb.width(); ++x) sum = sum * 31 + (row[x] & 0xFFFFFFu);
  }
  std::printf("%s %dx%d %08x\n", format.constData(), rgb.width(), rgb.height(), sum);
  return 0;
}
