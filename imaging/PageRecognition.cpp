// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/PageRecognition.h"

#include "core/PageText.h"
#include "imaging/DibQImage.h"
#include "imaging/ImgKit.h"
#include "text/ocr/RecognitionPool.h"


PageRecognition::PageRecognition(ArchiveSession& session, std::function<bool()> enabled, QObject* parent)
    : QObject(parent), session_(session), enabled_(std::move(enabled))
{
}

PageRecognition::~PageRecognition() = default;

int PageRecognition::Pending() const
{
    return int(jobs_.size());
}

bool PageRecognition::Ready()
{
    if (!enabled_ || !enabled_())
        return false;
    if (!languages_)
        languages_ = std::make_unique<RecognitionLanguages>(AvailableLanguages());
    if (!languages_->Ok())
        return false;
    if (!pool_) {
        pool_ = std::make_unique<RecognitionPool>(*languages_, RecognitionPool::BackgroundThreads());
        connect(pool_.get(), &RecognitionPool::Finished, this, &PageRecognition::Finished);
    }
    return true;
}

void PageRecognition::CatchUp()
{
    if (!session_.HasCategory() || !session_.WritingAllowed())
        return;
    const QString folder = session_.CurrentFolder;
    const ListStamp list = PageListStamp(folder);
    const ListStamp words = FileStampOf(folder + u'/' + kWordsFolder);
    if (folder == lastFolder_ && list == lastList_ && words == lastWords_)
        return;
    if (!Ready())
        return;
    lastFolder_ = folder;
    lastList_ = list;
    lastWords_ = words;
    for (PageToRecognise& page : PagesWithoutText(folder, session_.Pages)) {
        const QString key = folder + u'/' + page.entry;
        if (taken_.contains(key))
            continue;
        taken_.insert(key);
        const quint64 id = nextId_++;
        jobs_.insert(id, Job{folder, page.entry, page.imageStamp});
        // Read and decoded on the worker: the window never waits for a picture.
        pool_->Submit(id, [path = page.imagePath] {
            const ImageHandle image = ImgKitFileLoad(path);
            return image ? DibToQImage(image) : QImage();
        });
    }
}

void PageRecognition::Finished(quint64 id, const RecognitionResult& result)
{
    const auto it = jobs_.find(id);
    if (it == jobs_.end())
        return;
    const Job job = it.value();
    jobs_.erase(it);
    // A failed recognition leaves the page as it is; it is tried again in the
    // next run of the program.
    if (!result.ok)
        return;
    const PageResult stored = session_.StoreRecognisedText(job.folder, job.entry, job.imageStamp, result.text);
    taken_.remove(job.folder + u'/' + job.entry);
    if (stored.ok)
        emit TextStored(job.folder, job.entry);
}
