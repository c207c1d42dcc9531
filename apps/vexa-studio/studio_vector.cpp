// The studio's Vector menu: drawing and measuring modes, object properties for the
// selection (or, with nothing selected, for the next object), z-order, units and
// calibration, VXV files beside the picture, DXF import and burning in.
#include <QActionGroup>
#include <QColorDialog>
#include <QFileDialog>
#include <QFontDialog>
#include <QInputDialog>
#include <QMenuBar>
#include <QMessageBox>
#include <functional>

#include "studio_window_ui.h"
#include "vexa/io/vexaio.h"

using namespace vexa;

namespace {

// The selected objects, or the template when nothing is selected.
std::vector<int> Targets(TVexaVect& v) {
  std::vector<int> t = v.GetSelObjects();
  if (t.empty()) t.push_back(kVXTemplate);
  return t;
}

QColor QtColor(TColor c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }
TColor FromQt(const QColor& c) { return RGB2TColor(c.red(), c.green(), c.blue()); }

}  // namespace

void StudioWindow::BuildVectorMenu() {
  TVexaVect& v = *FView;
  QMenu* menu = menuBar()->addMenu("Vec&tor");
  auto* group = new QActionGroup(this);
  struct Mode {
    const char* Label;
    TVXMouseInteractVt Set;
    std::function<void()> Prepare;
  };
  const Mode modes[] = {
      {"&Select objects", VXMIV(miObjectSelect), {}},
      {"&Line", VXMIV(miPutLine), [&v] { v.SetObjEndShape(kVXTemplate, vxsNONE); }},
      {"&Arrow", VXMIV(miPutLine), [&v] { v.SetObjEndShape(kVXTemplate, vxsOUTARROW); }},
      {"&Box", VXMIV(miPutBox), {}},
      {"&Ellipse", VXMIV(miPutEllipse), {}},
      {"&Text", VXMIV(miPutText), {}},
      {"&Ruler", VXMIV(miPutRuler), {}},
      {"Measure a&rea", VXMIV(miArea), {}},
      {"Measure le&ngth", VXMIV(miLineLen), {}},
      {"Measure &drag length", VXMIV(miDragLen), {}},
  };
  for (const Mode& m : modes) {
    const TVXMouseInteractVt set = m.Set;
    const std::function<void()> prepare = m.Prepare;
    QAction* a = menu->addAction(m.Label, [this, set, prepare] {
      if (prepare) prepare();
      // Measuring works on a polygon the view's own mode draws.
      if (set & kVXMeasureModes) FView->SetMouseInteract(VXMI(miSelectPolygon));
      FView->SetMouseInteractVt(0);
      FView->SetMouseInteractVt(set);
    });
    a->setCheckable(true);
    group->addAction(a);
  }
  menu->addAction("Bitmap from &file...", [this] {
    const QString name = QFileDialog::getOpenFileName(this, "Picture for the next object", QString(),
                                                      "Images (*.bmp *.png *.jpg *.gif *.tif *.pcx *.tga)", nullptr,
                                                      QFileDialog::DontUseNativeDialog);
    if (name.isEmpty()) return;
    TBitmap pic;
    TVexaIO io;
    io.SetAttachedBitmap(&pic);
    io.LoadFromFile(name.toStdString());
    if (io.Aborting || pic.Empty()) return;
    FView->SetObjBitmap(kVXTemplate, pic);
    FView->SetObjRect(kVXTemplate, {0, 0, pic.Width() - 1, pic.Height() - 1});
    FView->SetMouseInteractVt(VXMIV(miPutBitmap));
  });
  menu->addAction("Vector &off", [this, group] {
    FView->SetMouseInteractVt(0);
    if (group->checkedAction()) group->checkedAction()->setChecked(false);
  });

  menu->addSeparator();
  menu->addAction("&Pen colour...", [this] {
    const QColor c = QColorDialog::getColor(QtColor(FView->ObjPenColor(Targets(*FView)[0])), this);
    if (c.isValid())
      for (int i : Targets(*FView)) FView->SetObjPenColor(i, FromQt(c));
  });
  menu->addAction("Pen &width...", [this] {
    bool ok = false;
    const int w = QInputDialog::getInt(this, "Pen width", "Pixels:", FView->ObjPenWidth(Targets(*FView)[0]), 1, 100,
                                       1, &ok);
    if (ok)
      for (int i : Targets(*FView)) FView->SetObjPenWidth(i, w);
  });
  menu->addAction("Brush &colour...", [this] {
    const QColor c = QColorDialog::getColor(QtColor(FView->ObjBrushColor(Targets(*FView)[0])), this);
    if (!c.isValid()) return;
    for (int i : Targets(*FView)) {
      FView->SetObjBrushColor(i, FromQt(c));
      FView->SetObjBrushStyle(i, bsSolid);
    }
  });
  menu->addAction("No &fill", [this] {
    for (int i : Targets(*FView)) FView->SetObjBrushStyle(i, bsClear);
  });
  menu->addAction("F&ont...", [this] {
    bool ok = false;
    const QFont f = QFontDialog::getFont(&ok, this);
    if (ok)
      for (int i : Targets(*FView)) FView->SetObjFont(i, f, FView->ObjPenColor(i));
  });

  menu->addSeparator();
  menu->addAction("&Delete objects", QKeySequence::Delete, [this] {
    for (int i : std::vector<int>(FView->GetSelObjects())) FView->RemoveObject(i);
  });
  menu->addAction("Bring to fr&ont", [this] {
    for (int i : FView->GetSelObjects()) FView->SetObjFrontOf(i, -1);
  });
  menu->addAction("Send to bac&k", [this] {
    for (int i : FView->GetSelObjects()) FView->SetObjBackTo(i, -1);
  });

  menu->addSeparator();
  QMenu* units = menu->addMenu("&Unit");
  auto* unitGroup = new QActionGroup(this);
  for (int u = vxuPIXELS; u <= vxuMILLIMETERS; ++u) {
    QAction* a = units->addAction(strunits[u], [this, u] { FView->SetMUnit(static_cast<TVXUnits>(u)); });
    a->setCheckable(true);
    a->setChecked(u == vxuPIXELS);
    unitGroup->addAction(a);
  }
  menu->addAction("Calibrate from selection &length...", [this] {
    bool ok = false;
    const double value = QInputDialog::getDouble(this, "Calibrate", "The selection's length measures:", 1.0, 0.000001,
                                                 1e9, 4, &ok);
    if (ok) FView->SetScaleFromSelectionLen(value);
  });

  menu->addSeparator();
  auto beside = [this](const char* ext) {
    return QString::fromStdString(FDoc.FileName.empty() ? std::string("objects") + ext
                                                    : FDoc.FileName.substr(0, FDoc.FileName.find_last_of('.')) + ext);
  };
  menu->addAction("Sa&ve objects...", [this, beside] {
    const QString name = QFileDialog::getSaveFileName(this, "Save objects", beside(".vxv"), "Vector objects (*.vxv)",
                                                      nullptr, QFileDialog::DontUseNativeDialog);
    if (!name.isEmpty()) FView->SaveToFileVXV(name.toStdString());
  });
  menu->addAction("Loa&d objects...", [this, beside] {
    const QString name = QFileDialog::getOpenFileName(this, "Load objects", beside(".vxv"), "Vector objects (*.vxv)",
                                                      nullptr, QFileDialog::DontUseNativeDialog);
    if (name.isEmpty()) return;
    try {
      FView->LoadFromFileVXV(name.toStdString());
    } catch (const std::exception& e) {
      QMessageBox::warning(this, "Load objects", QString("%1: %2").arg(name, e.what()));
    }
  });
  menu->addAction("&Import DXF...", [this] {
    const QString name = QFileDialog::getOpenFileName(this, "Import DXF", QString(), "Drawings (*.dxf)", nullptr,
                                                      QFileDialog::DontUseNativeDialog);
    if (!name.isEmpty()) FView->ImportDXF(name.toStdString());
  });
  menu->addAction("B&urn objects into the image", [this] {
    FProc.SaveUndo();
    FView->CopyObjectsToBack();
    Refresh();
  });
}
