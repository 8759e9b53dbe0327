#pragma once
// The channel list: one row per channel of the channel view with what feeds it — a recorder
// (server name, "camera: work name"), a local file ("Local Host", its name) or nothing
// ("Empty"). Rows move up and down; "Dis&connect" closes the selected channels; "E&xit" first
// drops the empty ones. The window acts only through the callbacks the main window sets.

#include <QWidget>
#include <functional>
#include <string>
#include <vector>

class QTreeWidget;
class QPushButton;
class QLineEdit;

namespace fsv::ui {

class ChannelListWindow : public QWidget {
    Q_OBJECT
  public:
    struct Channel {
        enum class Source { None, Recorder, Local } source = Source::None;
        std::string serverName, cameraName;
        std::string eventKey;  // YYYYMMDDHHMMSS, for a recorder's channel
        std::string fileName;  // for a local file
    };
    static constexpr int kSettleMsPerRow = 200;

    explicit ChannelListWindow(QWidget* parent = nullptr);

    std::function<std::vector<Channel>()> channels;
    std::function<void(int channel)> closeChannel;   // a channel with a source
    std::function<void(int channel)> removeChannel;  // an empty one leaves the channel set
    // A row chosen (double-click, Enter): its channel comes into view in the main window.
    std::function<void(int channel)> showChannel;

    QTreeWidget& list() { return *list_; }
    QPushButton* button(const char* objectName) const;

  public Q_SLOTS:
    void fill();

  protected:
    void showEvent(QShowEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;

  private:
    void move(int delta);
    void disconnectSelected();
    void exitList();
    void updateButtons();

    QTreeWidget* list_;
    QLineEdit* total_;
    QPushButton *up_, *down_, *disconnect_, *refresh_, *exit_;
};

}  // namespace fsv::ui
