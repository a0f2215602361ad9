// FitDialog and FitField: the title is measured in the bold title font of the desktop; a title bar also
// holds the window's icon and up to three buttons.
#include "app/Dialogplace.h"

#include <QDialog>
#include <QEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QLayout>
#include <QLineEdit>
#include <QScreen>
#include <algorithm>

namespace {

class TDialogPlacer : public QObject {
 public:
  using QObject::QObject;

 protected:
  // Runs before the dialog's own show handling, which leaves a dialog that was moved where it is.
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show) Place(static_cast<QDialog*>(watched));
    return QObject::eventFilter(watched, event);
  }

 private:
  static void Place(QDialog* dialog) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::TitleFont);
    font.setBold(true);
    const QFontMetrics title(font);
    // Icon and three buttons, each about one and a half text lines square, and the space around them.
    const int forTitle = title.horizontalAdvance(dialog->windowTitle()) + 8 * title.height();
    // An explicit minimum replaces the one the layout would set: keep what the contents need too.
    QLayout* layout = dialog->layout();
    dialog->setMinimumWidth(std::max(forTitle, layout ? layout->totalMinimumSize().width() : 0));
    dialog->adjustSize();
    // Wrapped text is as high as the width the dialog really got makes it (adjusting may narrow it).
    if (layout && layout->hasHeightForWidth())
      dialog->resize(dialog->width(), std::max(dialog->height(), layout->totalHeightForWidth(dialog->width())));
    const QWidget* owner = dialog->parentWidget() ? dialog->parentWidget() : dialog;
    const QRect screen = owner->screen()->availableGeometry();
    const QSize frame = dialog->frameGeometry().size();
    dialog->move(screen.center() - QPoint(frame.width() / 2, frame.height() / 2));
  }
};

}  // namespace

void FitDialog(QDialog* dialog) { dialog->installEventFilter(new TDialogPlacer(dialog)); }

void FitField(QLineEdit* edit, const QString& typical) {
  // Three average characters more leave room for the field's frame, margins and caret.
  const QFontMetrics metrics(edit->font());
  edit->setMinimumWidth(metrics.horizontalAdvance(typical) + 3 * metrics.averageCharWidth());
}
