#include "WindowServices.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QVariantMap>

#include "AVProbe.h"
#include "Platform.h"

QStringList TDesktopServices::ChooseFiles(QWidget* AParent, const QString& ACaption, const QString& AFilter) {
  return QFileDialog::getOpenFileNames(AParent, ACaption, QString(), AFilter);
}

QString TDesktopServices::ChooseFolder(QWidget* AParent, const QString& ACaption) {
  return QFileDialog::getExistingDirectory(AParent, ACaption, QString(), QFileDialog::ShowDirsOnly);
}

void TDesktopServices::Inform(QWidget* AParent, const QString& ACaption, const QString& AText) {
  QMessageBox::information(AParent, ACaption, AText, QMessageBox::Ok);
}

void TDesktopServices::ShowError(QWidget* AParent, const QString& AText) {
  QMessageBox::critical(AParent, QString(), AText, QMessageBox::Ok);
}

bool TDesktopServices::Ask(QWidget* AParent, const QString& ACaption, const QString& AText) {
  return QMessageBox::question(AParent, ACaption, AText, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void TDesktopServices::ShowFailures(QWidget* AParent, const QString& ACaption, const QString& AText,
                                    const QStringList& ALines) {
  auto* Box = new QMessageBox(QMessageBox::Warning, ACaption, AText, QMessageBox::Ok, AParent);
  Box->setDetailedText(ALines.join('\n'));
  Box->setAttribute(Qt::WA_DeleteOnClose);
  Box->open();
}

bool TDesktopServices::OpenUrl(const QUrl& AUrl) { return QDesktopServices::openUrl(AUrl); }

bool TDesktopServices::LoadLibraries(QString& AError) {
  // The probe's four are what checking a file needs; the batch loads the rest.
  TAVProbe Probe;
  if (Probe.LoadLibraries(Platform::ProgramFolder() + "lib", true)) return true;
  AError = QString::fromStdString(Probe.LastError());
  return false;
}

void TDBusNotifier::Notify(const QString& ATitle, const QString& ABody) {
  static const QString Service = QStringLiteral("org.freedesktop.Notifications");
  QDBusConnection Bus = QDBusConnection::sessionBus();
  if (!Bus.isConnected() || !Bus.interface() || !Bus.interface()->isServiceRegistered(Service)) return;
  QDBusMessage Call = QDBusMessage::createMethodCall(Service, QStringLiteral("/org/freedesktop/Notifications"),
                                                     Service, QStringLiteral("Notify"));
  Call << QStringLiteral("Pemmet") << quint32(0) << QStringLiteral("audio-x-generic") << ATitle << ABody
       << QStringList() << QVariantMap() << qint32(-1);
  Bus.call(Call, QDBus::NoBlock);
}
