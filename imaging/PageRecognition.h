// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The text of the pages that have none, recognised in the background while
// the window goes on: the pages of the category shown (and each page filed
// into it) are recognised on low-priority threads, one core left to the
// window, and each text is kept through the session as it is ready. Quitting
// mid-way loses nothing: a page still without text is taken up again the next
// time its category is shown.

#include "core/ArchiveSession.h"
#include "core/PageList.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>

#include <functional>
#include <memory>

class RecognitionPool;
struct RecognitionLanguages;
struct RecognitionResult;

class PageRecognition : public QObject {
    Q_OBJECT
public:
    // `enabled` is asked before each round (the setting may change); the
    // language data are looked for once, at the first round.
    PageRecognition(ArchiveSession& session, std::function<bool()> enabled, QObject* parent = nullptr);
    ~PageRecognition() override;

    // The pages of the session's current category that have no text, each
    // taken up once; cheap when nothing changed since the last call (the
    // list and the Words folder as they were).
    void CatchUp();
    // Waiting or running.
    int Pending() const;

signals:
    // A text was kept for `entry` of `folder`.
    void TextStored(const QString& folder, const QString& entry);

private:
    struct Job {
        QString folder;
        QString entry;
        ListStamp imageStamp;
    };
    void Finished(quint64 id, const RecognitionResult& result);
    bool Ready();

    ArchiveSession& session_;
    std::function<bool()> enabled_;
    std::unique_ptr<RecognitionLanguages> languages_;
    std::unique_ptr<RecognitionPool> pool_;
    QHash<quint64, Job> jobs_;
    QSet<QString> taken_;  // folder + '/' + entry: submitted, or tried and failed in this run
    quint64 nextId_ = 1;
    QString lastFolder_;
    ListStamp lastList_, lastWords_;
};
