// What the window asks of the desktop: dialogs, message boxes, opening places, the
// codec libraries and notifications. Behind interfaces, so tests answer them.
#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

class QWidget;

class TWindowServices {
public:
  virtual ~TWindowServices() = default;
  // Several files at once; empty when the user cancels.
  virtual QStringList ChooseFiles(QWidget* AParent, const QString& ACaption, const QString& AFilter) = 0;
  // Empty when the user cancels.
  virtual QString ChooseFolder(QWidget* AParent, const QString& ACaption) = 0;
  virtual void Inform(QWidget* AParent, const QString& ACaption, const QString& AText) = 0;
  virtual void ShowError(QWidget* AParent, const QString& AText) = 0;
  // Yes / No; true for Yes.
  virtual bool Ask(QWidget* AParent, const QString& ACaption, const QString& AText) = 0;
  // The end of a batch with failures: one line per failed file. Must not block.
  virtual void ShowFailures(QWidget* AParent, const QString& ACaption, const QString& AText,
                            const QStringList& ALines) = 0;
  // A folder in the file manager, a page in the browser.
  virtual bool OpenUrl(const QUrl& AUrl) = 0;
  // The libraries that checking and converting files need; false with the reason.
  virtual bool LoadLibraries(QString& AError) = 0;
};

// The desktop's own dialogs, message boxes and shell.
class TDesktopServices : public TWindowServices {
public:
  QStringList ChooseFiles(QWidget* AParent, const QString& ACaption, const QString& AFilter) override;
  QString ChooseFolder(QWidget* AParent, const QString& ACaption) override;
  void Inform(QWidget* AParent, const QString& ACaption, const QString& AText) override;
  void ShowError(QWidget* AParent, const QString& AText) override;
  bool Ask(QWidget* AParent, const QString& ACaption, const QString& AText) override;
  void ShowFailures(QWidget* AParent, const QString& ACaption, const QString& AText,
                    const QStringList& ALines) override;
  bool OpenUrl(const QUrl& AUrl) override;
  bool LoadLibraries(QString& AError) override;
};

// A note to the user when a batch ends, shown by the desktop outside the window.
class TNotifier {
public:
  virtual ~TNotifier() = default;
  virtual void Notify(const QString& ATitle, const QString& ABody) = 0;
};

// Freedesktop notifications over the session bus; nothing when no service is there.
class TDBusNotifier : public TNotifier {
public:
  void Notify(const QString& ATitle, const QString& ABody) override;
};
