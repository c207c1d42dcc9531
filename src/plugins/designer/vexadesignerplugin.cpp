// The Qt Widgets Designer plug-in collection: the visual components in a "Vexa"
// group, with the palette pictures of the design-time library.
#include <QtUiPlugin/QDesignerCustomWidgetCollectionInterface>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>
#include <QIcon>
#include <QObject>
#include <QtPlugin>
#include <algorithm>
#include <cctype>

#include "vexa/acquire/videoview_ui.h"
#include "vexa/controls/gradientbar_ui.h"
#include "vexa/controls/histogrambox_ui.h"
#include "vexa/controls/hsvbox_ui.h"
#include "vexa/controls/rulerbox_ui.h"
#include "vexa/legacy/vexa_ui.h"
#include "vexa/mview/vexamview_ui.h"
#include "vexa/package/design/palette_ui.h"
#include "vexa/vect/vexavect_ui.h"
#include "vexa/view/vexaview_ui.h"

namespace {

using namespace vexa;

struct TWidgetRow {
  const char* ClassName;
  const char* Include;
  const char* ToolTip;
  int Width, Height;
  QWidget* (*Create)(QWidget* parent);
};

template <class T>
QWidget* Create(QWidget* parent) {
  return new T(parent);
}

// One line per widget, in palette order.
const TWidgetRow kWidgets[] = {
    {"TVexa", "vexa/legacy/vexa_ui.h", "Image view with its own loading and processing", 320, 240, Create<TVexa>},
    {"TVexaView", "vexa/view/vexaview_ui.h", "Image view: zoom, scroll and selections", 320, 240, Create<TVexaView>},
    {"TVexaMView", "vexa/mview/vexamview_ui.h", "Grid of image thumbnails", 400, 300, Create<TVexaMView>},
    {"TVexaVect", "vexa/vect/vexavect_ui.h", "Image view with vector objects and measurement", 320, 240,
     Create<TVexaVect>},
    {"TVexaVideoView", "vexa/acquire/videoview_ui.h", "Live video from a capture device", 320, 240,
     Create<TVexaVideoView>},
    {"THistogramBox", "vexa/controls/histogrambox_ui.h", "Histogram of an image", 256, 100, Create<THistogramBox>},
    {"TRulerBox", "vexa/controls/rulerbox_ui.h", "Ruler with movable grips", 300, 30, Create<TRulerBox>},
    {"TVXGradientBar", "vexa/controls/gradientbar_ui.h", "Colour gradient bar", 200, 24, Create<TVXGradientBar>},
    {"THSVBox", "vexa/controls/hsvbox_ui.h", "Hue, saturation and value picker", 140, 120, Create<THSVBox>},
};

class TVexaWidgetPlugin : public QObject, public QDesignerCustomWidgetInterface {
  Q_OBJECT
  Q_INTERFACES(QDesignerCustomWidgetInterface)

 public:
  TVexaWidgetPlugin(const TWidgetRow& row, QObject* parent) : QObject(parent), FRow(row) {}

  QString name() const override { return QStringLiteral("vexa::") + QLatin1String(FRow.ClassName); }
  QString group() const override { return QStringLiteral("Vexa"); }
  QString toolTip() const override { return QString::fromUtf8(FRow.ToolTip); }
  QString whatsThis() const override { return toolTip(); }
  QString includeFile() const override { return QString::fromUtf8(FRow.Include); }
  QIcon icon() const override {
    std::string upper = FRow.ClassName;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
    return QIcon(VXPaletteBitmap(upper));
  }
  bool isContainer() const override { return false; }
  QWidget* createWidget(QWidget* parent) override { return FRow.Create(parent); }
  bool isInitialized() const override { return FInitialized; }
  void initialize(QDesignerFormEditorInterface*) override { FInitialized = true; }
  QString domXml() const override {
    QString object = QLatin1String(FRow.ClassName);
    object[0] = object[0].toLower();
    return QStringLiteral(
               "<ui language=\"c++\"><widget class=\"%1\" name=\"%2\">"
               "<property name=\"geometry\"><rect><x>0</x><y>0</y><width>%3</width><height>%4</height></rect>"
               "</property><property name=\"toolTip\"><string>%5</string></property></widget></ui>")
        .arg(name(), object)
        .arg(FRow.Width)
        .arg(FRow.Height)
        .arg(toolTip());
  }

 private:
  const TWidgetRow& FRow;
  bool FInitialized = false;
};

class TVexaWidgetCollection : public QObject, public QDesignerCustomWidgetCollectionInterface {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QDesignerCustomWidgetCollectionInterface")
  Q_INTERFACES(QDesignerCustomWidgetCollectionInterface)

 public:
  explicit TVexaWidgetCollection(QObject* parent = nullptr) : QObject(parent) {
    for (const TWidgetRow& row : kWidgets) FWidgets.append(new TVexaWidgetPlugin(row, this));
  }
  QList<QDesignerCustomWidgetInterface*> customWidgets() const override { return FWidgets; }

 private:
  QList<QDesignerCustomWidgetInterface*> FWidgets;
};

}  // namespace

#include "vexadesignerplugin.moc"
