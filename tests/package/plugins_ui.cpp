// The Qt plug-ins: the Designer widget collection, and the image-format plug-in
// as a plain Qt program sees it.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>
#include <QPluginLoader>
#include <QWidget>
#include <QtUiPlugin/QDesignerCustomWidgetCollectionInterface>
#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "vexa/io/vexaio.h"
#include "vexa/view/qtbitmap_ui.h"

using namespace vexa;

namespace {

const std::string kData = VEXA_TESTDATA_DIR;

std::string Run(const std::string& command) {
  std::string out;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (!p) return {};
  char buf[512];
  while (fgets(buf, sizeof buf, p)) out += buf;
  const int status = pclose(p);
  return std::to_string(WEXITSTATUS(status)) + ":" + out;
}

// The probe: a program that links Qt alone and finds the plug-in through QT_PLUGIN_PATH.
std::string Probe(const std::string& file, const std::string& limit = "") {
  return Run("env " VEXA_SUBPROCESS_ENV " QT_PLUGIN_PATH=" VEXA_PLUGIN_DIR " " VEXA_QIMAGEREAD " '" + file + "' " + limit);
}

// What the probe prints for our own decoding of a file.
std::string Expected(const std::string& format, const std::string& file) {
  TBitmap bmp;
  TVexaIO io;
  io.SetAttachedBitmap(&bmp);
  io.LoadFromFile(file);
  if (io.Aborting) return "our decoder failed";
  const QImage rgb = VXBitmapToQImage(bmp).convertToFormat(QImage::Format_RGB32);
  quint32 sum = 0;
  for (int y = 0; y < rgb.height(); ++y) {
    const auto* row = reinterpret_cast<const quint32*>(rgb.constScanLine(y));
    for (int x = 0; x < rgb.width(); ++x) sum = sum * 31 + (row[x] & 0xFFFFFFu);
  }
  char line[96];
  std::snprintf(line, sizeof line, "0:%s %dx%d %08x\n", format.c_str(), rgb.width(), rgb.height(), sum);
  return line;
}

}  // namespace

TEST(DesignerPlugin, CollectionLoadsAndCreatesEveryWidgetOfGroupVexa) {
  QPluginLoader loader(QStringLiteral(VEXA_DESIGNER_PLUGIN));
  QObject* instance = loader.instance();
  ASSERT_NE(instance, nullptr) << loader.errorString().toStdString();
  auto* collection = qobject_cast<QDesignerCustomWidgetCollectionInterface*>(instance);
  ASSERT_NE(collection, nullptr);
  QStringList names;
  QWidget form;
  for (QDesignerCustomWidgetInterface* w : collection->customWidgets()) {
    SCOPED_TRACE(w->name().toStdString());
    names << w->name();
    EXPECT_EQ(w->group(), QStringLiteral("Vexa"));
    EXPECT_FALSE(w->toolTip().isEmpty());
    EXPECT_TRUE(w->includeFile().startsWith(QStringLiteral("vexa/")));
    EXPECT_EQ(w->icon().availableSizes().value(0), QSize(24, 24));
    EXPECT_TRUE(w->domXml().contains(QStringLiteral("class=\"%1\"").arg(w->name())));
    EXPECT_TRUE(w->domXml().contains(QStringLiteral("<width>")));
    QWidget* widget = w->createWidget(&form);
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(QString::fromLatin1(widget->metaObject()->className()), w->name());
    EXPECT_EQ(widget->parentWidget(), &form);
  }
  EXPECT_EQ(names, (QStringList{"vexa::TVexa", "vexa::TVexaView", "vexa::TVexaMView", "vexa::TVexaVect",
                                "vexa::TVexaVideoView", "vexa::THistogramBox", "vexa::TRulerBox", "vexa::TVXGradientBar", "vexa::THSVBox"}));
}

TEST(DesignerPlugin, KeyPropertiesAreQtPropertiesTheDesignerCanSet) {
  QPluginLoader loader(QStringLiteral(VEXA_DESIGNER_PLUGIN));
  auto* collection = qobject_cast<QDesignerCustomWidgetCollectionInterface*>(loader.instance());
  ASSERT_NE(collection, nullptr);
  // Class, property, a value other than the default.
  const std::vector<std::tuple<QString, const char*, QVariant>> cases = {
      {"vexa::TVexaView", "Zoom", 250},          {"vexa::TVexaView", "Center", true},
      {"vexa::TVexa", "Zoom", 50},               {"vexa::TVexaVect", "Zoom", 400},
      {"vexa::TVXGradientBar", "EndColor", 0x00FF00}, {"vexa::TVXGradientBar", "ColorIndex", 7},
      {"vexa::THistogramBox", "CompBar", false},  {"vexa::THSVBox", "Hue", 120},
      {"vexa::THSVBox", "Color", 0x0000FF},      {"vexa::TRulerBox", "DotPerUnit", 2.5},
  };
  QWidget form;
  for (const auto& [cls, property, value] : cases) {
    SCOPED_TRACE(cls.toStdString() + "." + property);
    QDesignerCustomWidgetInterface* plugin = nullptr;
    for (QDesignerCustomWidgetInterface* w : collection->customWidgets())
      if (w->name() == cls) plugin = w;
    ASSERT_NE(plugin, nullptr);
    QWidget* widget = plugin->createWidget(&form);
    ASSERT_GE(widget->metaObject()->indexOfProperty(property), 0);
    EXPECT_NE(widget->property(property), value);
    EXPECT_TRUE(widget->setProperty(property, value));
    EXPECT_EQ(widget->property(property), value);
  }
}

TEST(ImageFormatPlugin, PlainQtProgramReadsPcxAndGroup4TiffThroughOurCodecs) {
  for (const auto& [format, file] :
       {std::pair<std::string, std::string>{"pcx", kData + "/pcx/pillow/p_4_planes.pcx"},
        {"pcx", kData + "/pcx/zigimg/test-bpp24.pcx"},
        {"tif", kData + "/tiff/pillow/hopper_g4.tif"},
        {"tif", kData + "/tiff/libtiffpic/g3test.tif"}}) {
    SCOPED_TRACE(file);
    EXPECT_EQ(Probe(file), Expected(format, file));
  }
}

TEST(ImageFormatPlugin, RefusesAnImageOverTheAllocationLimit) {
  // 1024 x 1024 needs 4 MiB as a 32-bit image.
  const std::string file = testing::TempDir() + "vexa-plugin-big.pcx";
  TBitmap bmp(1024, 1024, pf24bit);
  TVexaIO io;
  io.SetAttachedBitmap(&bmp);
  io.SaveToFile(file);
  ASSERT_FALSE(io.Aborting);
  EXPECT_EQ(Probe(file, "8").substr(0, 17), "0:pcx 1024x1024 0");
  const std::string refused = Probe(file, "3");
  EXPECT_EQ(refused.substr(0, 2), "1:") << refused;
  EXPECT_NE(refused.find("allocation limit"), std::string::npos) << refused;
}

TEST(ImageFormatPlugin, WritesWhatItReadsBack) {
  QImage image(37, 21, QImage::Format_RGB32);
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) image.setPixel(x, y, qRgb(x * 6, y * 12, (x * y) & 255));
  for (const char* format : {"pcx", "tga", "tiff", "vexa-bmp"}) {
    SCOPED_TRACE(format);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    ASSERT_TRUE(writer.write(image)) << writer.errorString().toStdString();
    buffer.close();
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format);
    const QImage back = reader.read();
    ASSERT_FALSE(back.isNull()) << reader.errorString().toStdString();
    EXPECT_EQ(back.convertToFormat(QImage::Format_RGB32), image);
  }
  EXPECT_FALSE(QImageWriter(QStringLiteral("/dev/null"), "ico").canWrite()) << "icons are read only";
}
