// share-menu-peer TYPE ACTION INPUT-JSON: the Share menu of a KDE application. Lists the actions
// that Purpose offers for the input data of the plugin type, runs the one shown as ACTION as the
// menu does (a job of its configuration, started and waited for), and prints what came back:
//
//   actions: <every action shown, separated by " | ">
//   error: <the job's error code>
//   errorText: <its text>
//   output: <its output, as compact JSON>
#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QTextStream>

#include <Purpose/AlternativesModel>
#include <Purpose/Configuration>
#include <Purpose/Job>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QTextStream out(stdout);
    const QStringList arguments = application.arguments();
    if (arguments.size() != 4) {
        QTextStream(stderr) << "usage: share-menu-peer TYPE ACTION INPUT-JSON\n";
        return 2;
    }

    Purpose::AlternativesModel model;
    model.setPluginType(arguments.at(1));
    model.setInputData(QJsonDocument::fromJson(arguments.at(3).toUtf8()).object());
    QStringList actions;
    int row = -1;
    for (int index = 0; index < model.rowCount(); ++index) {
        const QString action =
            model.index(index).data(Purpose::AlternativesModel::ActionDisplayRole).toString();
        actions.append(action);
        if (action == arguments.at(2))
            row = index;
    }
    out << "actions: " << actions.join(QStringLiteral(" | ")) << '\n';
    out.flush();
    if (row < 0)
        return 1;

    Purpose::Configuration *configuration = model.configureJob(row);
    if (!configuration->isReady()) {
        out << "not ready\n";
        return 1;
    }
    Purpose::Job *job = configuration->createJob();
    if (!job) {
        out << "no job\n";
        return 1;
    }
    QObject::connect(job, &KJob::finished, &application, [&](KJob *) {
        out << "error: " << job->error() << '\n'
            << "errorText: " << job->errorText() << '\n'
            << "output: " << QJsonDocument(job->output()).toJson(QJsonDocument::Compact) << '\n';
        out.flush();
        application.quit();
    });
    job->start();
    return application.exec();
}
