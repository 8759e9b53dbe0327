#pragma once
// The connection list: one row per connected recorder (name, address, works, login time), and,
// for one of them, its works (device, work name, type). "&Disconnect" closes the selected
// connections, offering to save unfinished work as a resume file first; "&Delete" removes the
// selected works. The window reads and acts only through the Host its owner gives it.

#include <QWidget>
#include <ctime>
#include <string>
#include <vector>

class QTreeWidget;
class QPushButton;
class QLineEdit;

namespace fsv::ui {

inline constexpr char kWorkRunningText[] =
    "This work is running and cannot be deleted.\nClose its channel or the connection to stop it.";

inline constexpr const char* kSaveUnfinishedQuestion =
    "Save the unfinished work as a resume file?";
inline constexpr const char* kResumeFileFilter = "FSV Resume File(*.RSM)|*.rsm|";
inline constexpr const char* kResumeFileExtension = "rsm";

class ConnectionListWindow : public QWidget {
    Q_OBJECT
  public:
    struct Connection {
        int id = -1;
        std::string serverName, serverAddress;
        int works = 0;
        std::time_t loginTime = 0;
    };
    struct WorkEntry {
        std::string deviceName;
        std::string eventKey;  // YYYYMMDDHHMMSS
        int type = 0;          // 0 Download & Play, 1 Just Download, 2 Just Play
    };
    enum class Mode { Connections, Works };
    // A work row's event key (YYYYMMDDHHMMSS), kept beside the shown date.
    static constexpr int kKeyRole = Qt::UserRole + 1;

    // What the window reads and does. Without one the list stays empty and "&Delete" stays
    // disabled: a row must not go while its work goes on.
    class Host {
      public:
        virtual ~Host() = default;
        virtual std::vector<Connection> connections() const = 0;
        virtual std::vector<WorkEntry> worksOf(int id) const = 0;
        virtual bool hasUnfinishedWork(int id) const = 0;
        // Closes the connection; `resumeFile` is empty unless the user chose one.
        virtual void closeConnection(int id, const std::string& resumeFile) = 0;
        // Removes one waiting work item of the connection, found by device and event key;
        // false when it is not waiting (it runs already), and then its row stays and the user
        // is told.
        virtual bool deleteWork(int id, const std::string& device, bool justDownload,
                                const std::string& eventKey) = 0;
    };

    explicit ConnectionListWindow(QWidget* parent = nullptr);
    void setHost(Host* host) { host_ = host; }

    Mode mode() const { return mode_; }
    QTreeWidget& list() { return *list_; }

  public Q_SLOTS:
    void fill();

  protected:
    void showEvent(QShowEvent* e) override;

  private:
    void setMode(Mode m);
    void workList();
    void disconnectSelected();
    void deleteSelected();
    void updateButtons();

    Host* host_ = nullptr;
    Mode mode_ = Mode::Connections;
    int connection_ = -1;
    QString connectionText_;
    QTreeWidget* list_;
    QLineEdit* total_;
    QLineEdit* shown_;
    QPushButton* first_;   // "&Work List" / "Back"
    QPushButton* second_;  // "&Disconnect" / "&Delete"
    QPushButton* refresh_;
    QPushButton* exit_;
};

}  // namespace fsv::ui
