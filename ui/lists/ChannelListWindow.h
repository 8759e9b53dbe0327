#pragma once
// The channel list: one row per channel of the channel view with what feeds it — a recorder
// (server name, "camera: work name"), a local file ("Local Host", its name) or nothing
// ("Empty"). Rows move up and down; "Dis&connect" closes the selected channels; "E&xit" first
// drops the empty ones. The window acts only through the Host its owner gives it.

#include <QWidget>
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

    // What the window reads and does. Without one the list stays empty.
    class Host {
      public:
        virtual ~Host() = default;
        virtual std::vector<Channel> channels() const = 0;
        virtual void closeChannel(int channel) = 0;  // a channel with a source
        // An empty channel leaves the channel set; by default it stays.
        virtual void removeChannel(int /*channel*/) {}
        // A row chosen (double-click, Enter): its channel comes into view in the main window.
        virtual void showChannel(int channel) = 0;
    };

    explicit ChannelListWindow(QWidget* parent = nullptr);
    void setHost(Host* host) { host_ = host; }

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

    Host* host_ = nullptr;
    QTreeWidget* list_;
    QLineEdit* total_;
    QPushButton *up_, *down_, *disconnect_, *refresh_, *exit_;
};

}  // namespace fsv::ui
