#include "app/Controls.h"

#include <QEvent>
#include <QGridLayout>
#include <algorithm>
#include <limits>

#include "core/IntText.h"

namespace tilvorn {

TSpinEdit::TSpinEdit(QWidget* parent) : QWidget(parent) {
    editor_ = new QLineEdit(this);
    editor_->setObjectName("editor");
    up_ = new QToolButton(this);
    down_ = new QToolButton(this);
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    for (QToolButton* b : {up_, down_}) b->setFocusPolicy(Qt::NoFocus);
    setFocusProxy(editor_);
    editor_->installEventFilter(this);
    connect(editor_, &QLineEdit::textChanged, this, &TSpinEdit::Changed);
    connect(up_, &QToolButton::clicked, this, [this] { Step(+1); });
    connect(down_, &QToolButton::clicked, this, [this] { Step(-1); });
    SetValue(0);
}

int TSpinEdit::Clamp(int64_t value) const {
    if (MinValue != MaxValue) {
        if (value < MinValue) value = MinValue;
        if (value > MaxValue) value = MaxValue;
    }
    if (value < std::numeric_limits<int>::min()) value = std::numeric_limits<int>::min();
    if (value > std::numeric_limits<int>::max()) value = std::numeric_limits<int>::max();
    return static_cast<int>(value);
}

int TSpinEdit::Value() const {
    auto parsed = ParseIntText(editor_->text().toStdString());
    return Clamp(parsed ? *parsed : MinValue);
}

void TSpinEdit::SetValue(int value) { editor_->setText(QString::number(Clamp(value))); }

void TSpinEdit::Step(int direction) {
    if (!isEnabled()) return;
    SetValue(Clamp(int64_t{Value()} + int64_t{direction} * Increment));
}

bool TSpinEdit::eventFilter(QObject* watched, QEvent* event) {
    if (watched == editor_ && event->type() == QEvent::FocusOut && MinValue != MaxValue) {
        QString corrected = QString::number(Value());
        if (editor_->text() != corrected) editor_->setText(corrected);
    }
    return QWidget::eventFilter(watched, event);
}

namespace {
constexpr int kSpinButtonWidth = 16;
}

QSize TSpinEdit::sizeHint() const {
    QSize editor = editor_->sizeHint();
    // Room for seven digits: a poster ten kilometres wide.
    int digits = editor_->fontMetrics().horizontalAdvance(QStringLiteral("9999999")) + 12;
    return {std::max(digits, 60) + kSpinButtonWidth, editor.height()};
}

void TSpinEdit::resizeEvent(QResizeEvent*) {
    int buttonWidth = kSpinButtonWidth;
    int half = height() / 2;
    editor_->setGeometry(0, 0, width() - buttonWidth, height());
    up_->setGeometry(width() - buttonWidth, 0, buttonWidth, half);
    down_->setGeometry(width() - buttonWidth, half, buttonWidth, height() - half);
}

TRadioGroup::TRadioGroup(const QStringList& items, int columns, QWidget* parent) : QGroupBox(parent) {
    group_ = new QButtonGroup(this);
    layout_ = new QGridLayout(this);
    layout_->setContentsMargins(4, 2, 4, 2);
    layout_->setSpacing(2);
    int rows = (static_cast<int>(items.size()) + columns - 1) / columns;
    for (int i = 0; i < items.size(); ++i) {
        auto* button = new QRadioButton(items[i], this);
        group_->addButton(button, i);
        layout_->addWidget(button, i % rows, i / rows);
        buttons_.push_back(button);
    }
    connect(group_, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (checked) emit Clicked();
    });
}

void TRadioGroup::SetItemIndex(int index) {
    if (index < 0 || index >= Count()) {
        group_->setExclusive(false);
        for (QRadioButton* b : buttons_) b->setChecked(false);
        group_->setExclusive(true);
        return;
    }
    buttons_[index]->setChecked(true);
}

}  // namespace tilvorn
