// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/TSearchForm.h"

#include "core/PageList.h"
#include "imaging/DibQImage.h"
#include "imaging/ImgKit.h"
#include "text/SearchRunner.h"
#include "ui_TSearchForm.h"

#include <QAbstractTextDocumentLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTextDocument>

namespace {

constexpr int kHtmlRole = Qt::UserRole + 1;
constexpr int kRowHeight = 70;

// Each hit as its thumbnail and two lines of rich text: where, then the snippet.
class HitDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        opt.text.clear();
        QStyle* style = opt.widget ? opt.widget->style() : nullptr;
        if (style)
            style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);
        QTextDocument doc;
        doc.setDefaultFont(opt.font);
        doc.setHtml(index.data(kHtmlRole).toString());
        const int textLeft = opt.rect.left() + opt.decorationSize.width() + 10;
        doc.setTextWidth(std::max(10, opt.rect.right() - textLeft));
        painter->save();
        painter->translate(textLeft, opt.rect.top() + 2);
        painter->setClipRect(QRect(0, 0, opt.rect.right() - textLeft, opt.rect.height() - 4));
        QAbstractTextDocumentLayout::PaintContext context;
        context.palette = opt.palette;
        if (opt.state & QStyle::State_Selected)
            context.palette.setColor(QPalette::Text, opt.palette.color(QPalette::HighlightedText));
        doc.documentLayout()->draw(painter, context);
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        return {QStyledItemDelegate::sizeHint(option, index).width(), kRowHeight};
    }
};

QString SourceName(SearchHit::Source source)
{
    return source == SearchHit::Memo ? QStringLiteral("メモ") : QStringLiteral("認識した文字");
}

}  // namespace

TSearchForm::TSearchForm(const QString& archiveRoot, QWidget* parent, const QString& cacheFolder)
    : QWidget(parent, Qt::Window),
      ui_(std::make_unique<Ui::TSearchForm>()),
      root_(archiveRoot),
      runner_(std::make_unique<SearchRunner>(archiveRoot, cacheFolder))
{
    ui_->setupUi(this);
    ui_->ListBox1->setItemDelegate(new HitDelegate(ui_->ListBox1));
    ui_->Button1->setEnabled(false);
    connect(ui_->Edit1, &QLineEdit::textChanged, this, &TSearchForm::Edit1Change);
    connect(ui_->Edit1, &QLineEdit::returnPressed, this, [this] {
        // Enter in the field opens the hit chosen, else the first.
        if (ui_->ListBox1->currentRow() < 0 && !hits_.empty())
            ui_->ListBox1->setCurrentRow(0);
        Button1Click();
    });
    connect(runner_.get(), &SearchRunner::Found, this, &TSearchForm::Found);
    connect(ui_->ListBox1, &QListWidget::currentRowChanged, this, &TSearchForm::ListBox1Click);
    connect(ui_->ListBox1, &QListWidget::itemActivated, this, &TSearchForm::Button1Click);
    connect(ui_->Button1, &QPushButton::clicked, this, &TSearchForm::Button1Click);
    connect(ui_->ListBox1->verticalScrollBar(), &QScrollBar::valueChanged, this, &TSearchForm::LoadVisibleThumbnails);
}

TSearchForm::~TSearchForm() = default;

void TSearchForm::ArchiveChanged()
{
    runner_->Invalidate();
}

void TSearchForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Shown again: pages may have come and gone meanwhile.
    runner_->Invalidate();
    ui_->Edit1->setFocus();
    if (!ui_->Edit1->text().isEmpty())
        Edit1Change();
}

void TSearchForm::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    if ((event->key() == Qt::Key_Down || event->key() == Qt::Key_Up) && ui_->Edit1->hasFocus() &&
        ui_->ListBox1->count() > 0) {
        ui_->ListBox1->setFocus();
        if (ui_->ListBox1->currentRow() < 0)
            ui_->ListBox1->setCurrentRow(0);
        return;
    }
    QWidget::keyPressEvent(event);
}

void TSearchForm::Edit1Change()
{
    waitingFor_ = runner_->Ask(ui_->Edit1->text(), kHitLimit);
    if (!ui_->Edit1->text().isEmpty())
        ui_->Label2->setText(QStringLiteral("検索しています…"));
}

QString TSearchForm::StatusText(const SearchResult& result, const QString& problem)
{
    QString text = result.hits.empty() ? QStringLiteral("見つかりません")
                   : result.more      ? QStringLiteral("%1件以上（最初の%2件）").arg(result.matched).arg(result.hits.size())
                                      : QStringLiteral("%1件").arg(result.hits.size());
    if (!problem.isEmpty())
        text += QStringLiteral("（一部の分類を読めませんでした）");
    return text;
}

QString TSearchForm::SnippetHtml(const SearchHit& hit)
{
    QString html = QStringLiteral("<b>%1</b>　Page %2　<span style=\"color:gray\">%3</span><br>")
                       .arg(hit.category.toHtmlEscaped())
                       .arg(hit.pageIndex + 1)
                       .arg(SourceName(hit.source));
    int at = 0;
    for (auto [start, length] : hit.marked) {
        if (start < at || start + length > hit.snippet.size())
            continue;
        html += hit.snippet.mid(at, start - at).toHtmlEscaped();
        html += QStringLiteral("<span style=\"background-color:#ffd75e;color:black\">%1</span>")
                    .arg(hit.snippet.mid(start, length).toHtmlEscaped());
        at = start + length;
    }
    html += hit.snippet.mid(at).toHtmlEscaped();
    return html;
}

void TSearchForm::Found(quint64 ticket, const QString& query, const SearchResult& result, const QString& problem)
{
    if (ticket != waitingFor_ || query != ui_->Edit1->text())
        return;
    hits_ = result.hits;
    thumbLoaded_.assign(hits_.size(), false);
    QListWidget* list = ui_->ListBox1;
    list->setUpdatesEnabled(false);
    list->clear();
    for (const SearchHit& hit : hits_) {
        auto* item = new QListWidgetItem(
            QStringLiteral("%1 Page %2 %3: %4").arg(hit.category).arg(hit.pageIndex + 1).arg(SourceName(hit.source), hit.snippet));
        item->setData(kHtmlRole, SnippetHtml(hit));
        list->addItem(item);
    }
    list->setUpdatesEnabled(true);
    ui_->Label2->setText(query.isEmpty() ? QString() : StatusText(result, problem));
    if (!problem.isEmpty())
        ui_->Label2->setToolTip(problem);
    ui_->Button1->setEnabled(false);
    LoadVisibleThumbnails();
}

void TSearchForm::LoadVisibleThumbnails()
{
    QListWidget* list = ui_->ListBox1;
    if (list->count() == 0)
        return;
    const int first = std::max(0, list->row(list->itemAt(QPoint(2, 2))));
    const int shown = list->viewport()->height() / kRowHeight + 2;
    for (int row = first; row < std::min<int>(list->count(), first + shown); ++row) {
        if (thumbLoaded_[row])
            continue;
        thumbLoaded_[row] = true;
        const SearchHit& hit = hits_[row];
        PageList one;
        one.lines << hit.entry;
        const QString thumb = ThumbPath(root_ + u'/' + hit.category, one, 0);
        if (thumb.isEmpty())
            continue;
        const ImageHandle picture = ImgKitFileLoad(thumb);
        if (!picture)
            continue;
        const QImage image = DibToQImage(picture);
        list->item(row)->setIcon(QIcon(QPixmap::fromImage(
            image.scaled(list->iconSize(), Qt::KeepAspectRatio, Qt::SmoothTransformation))));
    }
}

const SearchHit* TSearchForm::CurrentHit() const
{
    const int row = ui_->ListBox1->currentRow();
    return row >= 0 && row < int(hits_.size()) ? &hits_[row] : nullptr;
}

void TSearchForm::ListBox1Click()
{
    const SearchHit* hit = CurrentHit();
    ui_->Button1->setEnabled(hit != nullptr);
    if (hit)
        emit HitChosen(*hit);
}

void TSearchForm::Button1Click()
{
    if (const SearchHit* hit = CurrentHit())
        emit HitOpened(*hit);
}
