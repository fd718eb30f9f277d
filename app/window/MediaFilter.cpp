#include "MediaFilter.h"

#include <QSet>

#include <algorithm>

#include "AVFormatHlpr.h"
#include "ConvertWorkflow.h"

namespace {

// Extensions that some demuxers read without naming them (they probe the content).
struct TUnnamed {
  const char* Demuxer;
  const char* Extensions;
} const Unnamed[] = {
    {"ogg", "ogg,oga,ogv,ogx,opus,spx"},
    {"matroska", "mkv,mka,webm"},
    {"mov", "mp4,m4a,m4b,mov,3gp"},
    {"flac", "flac"},
    {"wav", "wav"},
};

void AddList(QSet<QString>& AInto, const QString& AList, QChar ASeparator) {
  for (const QString& Ext : AList.split(ASeparator, Qt::SkipEmptyParts)) {
    QString Clean = Ext.trimmed().toLower();
    if (Clean.startsWith('.')) Clean.remove(0, 1);
    if (!Clean.isEmpty()) AInto.insert(Clean);
  }
}

}  // namespace

QStringList ReadableExtensions() {
  QSet<QString> Found;
  void* Opaque = nullptr;
  while (const AVInputFormat* Format = av::av_demuxer_iterate(&Opaque))
    if (Format->extensions) AddList(Found, QString::fromLatin1(Format->extensions), ',');
  for (const TUnnamed& U : Unnamed)
    if (av::av_find_input_format(U.Demuxer)) AddList(Found, QString::fromLatin1(U.Extensions), ',');
  // The audio formats the converter has always offered.
  AddList(Found, QString::fromLatin1(AudioExtensions), ' ');
  QStringList Sorted(Found.begin(), Found.end());
  std::sort(Sorted.begin(), Sorted.end());
  return Sorted;
}

QString OpenDialogFilter(const QStringList& AExtensions) {
  QStringList Patterns;
  for (const QString& Ext : AExtensions) Patterns << "*." + Ext;
  return "All Supported Files (" + Patterns.join(' ') + ");;All files (*)";
}
