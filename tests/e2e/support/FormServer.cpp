#include "e2e/support/FormServer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <sstream>

#include "e2e/support/Process.h"

namespace fs = std::filesystem;

namespace e2e {

namespace {

std::optional<Event> ParseEvent(const std::string& line) {
    QJsonParseError err;
    QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line), &err);
    if (err.error != QJsonParseError::NoError || !doc.isObject()) return std::nullopt;
    QJsonObject o = doc.object();
    Event e;
    e.raw = line;
    e.kind = o.value("kind").toString().toStdString();
    e.seq = o.value("seq").toInt();
    e.page = o.value("page").toString().toStdString();
    e.tag = o.value("tag").toString().toStdString();
    e.text = o.value("text").toString().toStdString();
    e.clicks = o.value("clicks").toInt();
    e.phase = o.value("phase").toString().toStdString();
    QJsonObject fields = o.value("fields").toObject();
    for (auto it = fields.begin(); it != fields.end(); ++it)
        e.fields[it.key().toStdString()] = it.value().toString().toStdString();
    QJsonArray origin = o.value("origin").toArray();
    if (origin.size() == 2) e.originX = origin[0].toDouble(), e.originY = origin[1].toDouble();
    QJsonArray client = o.value("client").toArray();
    if (client.size() == 2) e.clientX = client[0].toDouble(), e.clientY = client[1].toDouble();
    e.scale = o.value("scale").toDouble(1.0);
    QJsonObject rects = o.value("rects").toObject();
    for (auto it = rects.begin(); it != rects.end(); ++it) {
        std::vector<double> r;
        for (const QJsonValue& v : it.value().toArray()) r.push_back(v.toDouble());
        e.rects[it.key().toStdString()] = r;
    }
    return e;
}

}  // namespace

bool FormServer::InstallNpm(const std::vector<std::string>& packages, std::string* log) {
    const fs::path dir = PENRIKA_NPM_DIR;
    std::vector<std::string> missing;
    for (const std::string& p : packages) {
        const std::string name = p.substr(0, p.find('@', 1));
        if (!fs::exists(dir / "node_modules" / name / "package.json")) missing.push_back(p);
    }
    if (missing.empty()) return true;
    fs::create_directories(dir);
    std::vector<std::string> argv = {"npm",      "install",     "--no-audit", "--no-fund",
                                     "--no-save", "--loglevel=error", "--prefix", dir.string()};
    argv.insert(argv.end(), missing.begin(), missing.end());
    Process::Options o;
    o.output = dir / "npm.log";
    Process npm(argv, o);
    WaitUntil([&] { return !npm.Running(); }, 300s, 100ms);
    npm.Stop();
    if (log) *log = ReadText(o.output);
    for (const std::string& p : missing)
        if (!fs::exists(dir / "node_modules" / p.substr(0, p.find('@', 1)) / "package.json"))
            return false;
    return true;
}

FormServer::FormServer(const fs::path& dir, fs::path pages) {
    if (pages.empty()) pages = SourceDir() / "tests" / "e2e" / "pages";
    log_ = dir / "form-server.jsonl";
    fs::path portFile = dir / "form-server.port";
    fs::path output = dir / "form-server.out";
    Process::Options o;
    o.output = output;
    process_ = std::make_unique<Process>(
        std::vector<std::string>{"python3", (SourceDir() / "tests" / "e2e" / "server.py").string(),
                                 "--pages", pages.string(), "--log", log_.string(), "--port-file",
                                 portFile.string(), "--npm", PENRIKA_NPM_DIR},
        o);
    bool up = WaitUntil([&] { return fs::exists(portFile) || !process_->Running(); }, 15s);
    if (!up || !fs::exists(portFile))
        throw Error("form server did not start: " + Tail(ReadText(output)));
    port_ = std::stoi(ReadText(portFile));
}

FormServer::~FormServer() = default;

std::string FormServer::Url(const std::string& page, const std::string& tag) const {
    std::string url = "http://127.0.0.1:" + std::to_string(port_) + "/" + page;
    if (!tag.empty()) url += "?t=" + tag;
    return url;
}

std::vector<Event> FormServer::Events() const {
    std::vector<Event> events;
    std::istringstream in(ReadText(log_));
    std::string line;
    // A line still being written has no newline yet and does not parse: it is read next time.
    while (std::getline(in, line)) {
        if (std::optional<Event> e = ParseEvent(line)) events.push_back(std::move(*e));
    }
    return events;
}

int FormServer::LastSeq() const {
    std::vector<Event> events = Events();
    return events.empty() ? 0 : events.back().seq;
}

std::optional<Event> FormServer::WaitEvent(const std::string& kind, int afterSeq, Millis timeout,
                                           const std::string& tag,
                                           const std::function<bool(const Event&)>& match) const {
    std::optional<Event> found;
    WaitUntil(
        [&] {
            for (Event& e : Events()) {
                if (e.seq <= afterSeq || e.kind != kind) continue;
                if (!tag.empty() && e.tag != tag) continue;
                if (match && !match(e)) continue;
                found = std::move(e);
                return true;
            }
            return false;
        },
        timeout);
    return found;
}

}  // namespace e2e
