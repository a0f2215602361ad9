// TBaseForm: the base of every CU window: the CU it shows, font and release operations.
#pragma once

#include <QWidget>
#include <memory>

class CCuDesc;
class QFont;

class TBaseForm : public QWidget {
  Q_OBJECT
 public:
  explicit TBaseForm(QWidget* parent = nullptr) : QWidget(parent) {}

  virtual void ApplyFont(const QFont& font) { (void)font; }
  // Lets go of the CU; the window stays open with its contents.
  virtual void ReleaseCu() { m_cu.reset(); }
  CCuDesc* Cu() const { return m_cu.get(); }

 protected:
  std::shared_ptr<CCuDesc> m_cu;  // keeps the record alive while the window shows it
};
