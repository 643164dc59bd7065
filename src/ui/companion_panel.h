#pragma once
// The mixer's "phone" tab: the pairing PIN, hidden as dots until revealed, the line that says
// where to enter it, and the button that issues a new PIN. GUI thread only.
#include <QWidget>

class QLabel;
class QPushButton;

namespace orevant {

class MixerEngine;

class CompanionPanel final : public QWidget {
public:
    static constexpr const char* kHiddenPIN = "• • • • • •";

    CompanionPanel(MixerEngine& engine, QWidget* parent = nullptr);

    bool isRevealed() const { return isRevealed_; }
    void setRevealed(bool revealed);
    void refresh();
    QString pinText() const;

private:
    MixerEngine& engine_;
    bool isRevealed_ = false;
    QLabel* pin_;
    QPushButton* reveal_;
};

} // namespace orevant
