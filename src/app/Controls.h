// Two controls the windows need that Qt has no exact match for.
#pragma once
#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QToolButton>
#include <QWidget>
#include <vector>

namespace tilvorn {

/// An integer edit with up and down buttons. Its value is the integer in its text (the
/// common integer syntax); an empty or invalid text reads as MinValue. When MinValue and
/// MaxValue are equal there are no limits, otherwise values are clamped to them, and the
/// text is corrected when the focus leaves.
class TSpinEdit : public QWidget {
    Q_OBJECT
public:
    explicit TSpinEdit(QWidget* parent = nullptr);

    int MinValue = 0;
    int MaxValue = 0;
    int Increment = 1;

    int Value() const;
    void SetValue(int value);
    QString Text() const { return editor_->text(); }
    QLineEdit* Editor() const { return editor_; }
    /// The editor's own size and the width of the up and down buttons.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

signals:
    /// Every change of the text, typed or set.
    void Changed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    int Clamp(int64_t value) const;
    void Step(int direction);

    QLineEdit* editor_;
    QToolButton* up_;
    QToolButton* down_;
};

/// A titled group of radio buttons in columns; ItemIndex is the checked one or -1.
class TRadioGroup : public QGroupBox {
    Q_OBJECT
public:
    TRadioGroup(const QStringList& items, int columns, QWidget* parent = nullptr);
    int ItemIndex() const { return group_->checkedId(); }
    void SetItemIndex(int index);
    QRadioButton* Button(int index) const { return buttons_.at(index); }
    int Count() const { return static_cast<int>(buttons_.size()); }
    /// The grid the buttons sit in, for a control placed beside an entry.
    QGridLayout* Layout() const { return layout_; }

signals:
    /// The checked entry changed, by the user or by SetItemIndex.
    void Clicked();

private:
    QButtonGroup* group_;
    QGridLayout* layout_;
    std::vector<QRadioButton*> buttons_;
};

}  // namespace tilvorn
