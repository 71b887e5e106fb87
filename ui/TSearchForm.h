// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The search window: a query field and the pages whose memo or recognised
// text holds it, filled as the user types. Choosing a hit asks the main
// window to show that page as its clicked page; opening one (double click,
// Enter, the button) asks for it full screen with the hit's words outlined.

#include "text/SearchIndex.h"

#include <QWidget>

#include <memory>
#include <vector>

class SearchRunner;
class QListWidgetItem;

namespace Ui {
class TSearchForm;
}

class TSearchForm : public QWidget {
    Q_OBJECT
public:
    // At most this many hits are listed; the status line says when more matched.
    static constexpr int kHitLimit = 200;

    explicit TSearchForm(const QString& archiveRoot, QWidget* parent = nullptr, const QString& cacheFolder = {});
    ~TSearchForm() override;

    // The hits listed, in list order.
    const std::vector<SearchHit>& Hits() const { return hits_; }
    // The archive changed: the index is read again for the next query.
    void ArchiveChanged();

    // The status line for a result: the count, "more" when cut off.
    static QString StatusText(const SearchResult& result, const QString& problem);
    // The snippet as rich text, its marked ranges highlighted.
    static QString SnippetHtml(const SearchHit& hit);

signals:
    void HitChosen(const SearchHit& hit);
    void HitOpened(const SearchHit& hit);

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Edit1Change();
    void Found(quint64 ticket, const QString& query, const SearchResult& result, const QString& problem);
    void ListBox1Click();
    void Button1Click();
    void LoadVisibleThumbnails();
    const SearchHit* CurrentHit() const;

    std::unique_ptr<Ui::TSearchForm> ui_;
    QString root_;
    std::unique_ptr<SearchRunner> runner_;
    std::vector<SearchHit> hits_;
    std::vector<bool> thumbLoaded_;
    quint64 waitingFor_ = 0;
};
