#include "recorder/database/ChannelTable.h"

#include <cstdint>
#include <sstream>

#include "recorder/database/DatabaseCall.h"
#include "recorder/database/SqlText.h"

namespace orvale::recorder {
namespace {

constexpr const char* kCreateChannel =
    "CREATE TABLE [T_CHANNEL]( \t\t\t\t\t[ID]VARCHAR(62) \t\t\t\t\t,[SCHEDULEID]VARCHAR(62) "
    "\t\t\t\t\t,[DISK]VARCHAR(255) \t\t\t\t\t,[RETENTIONTIME]INTEGER \t\t\t\t\t,[PROTOCOL]INTEGER "
    "\t\t\t\t\t,[MOTION_PRE_RECTIME]INTEGER \t\t\t\t\t,[MOTION_POST_RECTIME]INTEGER "
    "\t\t\t\t\t,[ALARM_PRE_RECTIME]INTEGER \t\t\t\t\t,[ALARM_POST_RECTIME]INTEGER "
    "\t\t\t\t\t,[VLOSS_PRE_RECTIME]INTEGER \t\t\t\t\t,[IV_PRE_RECTIME]INTEGER "
    "\t\t\t\t\t,[IV_POST_RECTIME]INTEGER \t\t\t\t\t,[AUDIO_PRE_RECTIME]INTEGER "
    "\t\t\t\t\t,[AUDIO_POST_RECTIME]INTEGER \t\t\t\t\t,[AUDIO_RECORD]BOOLEAN "
    "\t\t\t\t\t,[ARB]BOOLEAN "
    "\t\t\t\t\t,[CONTINUOUS_ONLY_FOR_LOW]BOOLEAN \t\t\t\t\t,[ENCRYPT]BOOLEAN "
    "\t\t\t\t\t,[FAILOVERSTATUS]BOOLEAN \t\t\t\t\t,CONSTRAINT [PK_T_CHANNEL] PRIMARY KEY ([ID]) "
    "\t\t\t\t\t)";

uint32_t ReadUnsigned(const SQLite::Statement& row, int column) {
    return static_cast<uint32_t>(row.getColumn(column).getInt64());
}

bool ReadSwitch(const SQLite::Statement& row, int column) {
    return row.getColumn(column).getInt64() != 0;
}

// Columns 1 to 18 of a "SELECT *" row; the id stays as it is.
void ReadChannel(const SQLite::Statement& row, media_channel_s& channel) {
    channel.scheduleId = row.getColumn(1).getString();
    channel.disk = row.getColumn(2).getString();
    channel.retentionTime = ReadUnsigned(row, 3);
    channel.protocol = row.getColumn(4).getInt();
    channel.motion.preRecTime = ReadUnsigned(row, 5);
    channel.motion.postRecTime = ReadUnsigned(row, 6);
    channel.alarm.preRecTime = ReadUnsigned(row, 7);
    channel.alarm.postRecTime = ReadUnsigned(row, 8);
    channel.videoLoss.preRecTime = ReadUnsigned(row, 9);
    channel.iv.preRecTime = ReadUnsigned(row, 10);
    channel.iv.postRecTime = ReadUnsigned(row, 11);
    channel.audio.preRecTime = ReadUnsigned(row, 12);
    channel.audio.postRecTime = ReadUnsigned(row, 13);
    channel.audioRecord = ReadSwitch(row, 14);
    channel.arb = ReadSwitch(row, 15);
    channel.continuousOnlyForLow = ReadSwitch(row, 16);
    channel.encrypt = ReadSwitch(row, 17);
    channel.failoverStatus = ReadSwitch(row, 18);
    channel.videoLoss.postRecTime = 0;
    channel.extraValue = 0;
}

int Switch(bool on) {
    return on ? 1 : 0;
}

std::string SelectById(const std::string& id) {
    return "SELECT * FROM [T_CHANNEL] WHERE ID = '" + SqlEscape(id) + "'";
}

}  // namespace

ChannelTable::ChannelTable(const std::shared_ptr<DatabaseConnection>& connection,
                           std::shared_ptr<std::atomic<bool>> modified)
    : connection_(connection), modified_(std::move(modified)) {}

bool ChannelTable::CreateTable(SQLite::Database& database) {
    if (!database.tableExists("T_CHANNEL")) database.exec(kCreateChannel);
    return true;
}

bool ChannelTable::SelectAll(ChannelMap& channels) {
    return SelectList("SELECT * FROM [T_CHANNEL]", channels);
}

bool ChannelTable::SelectFailOver(ChannelMap& channels) {
    return SelectList("SELECT * FROM [T_CHANNEL] WHERE FAILOVERSTATUS = 1", channels);
}

bool ChannelTable::SelectNotFailOver(ChannelMap& channels) {
    return SelectList("SELECT * FROM [T_CHANNEL] WHERE FAILOVERSTATUS = 0", channels);
}

bool ChannelTable::SelectList(const std::string& sql, ChannelMap& channels) {
    return RunQuery(connection_.lock(), sql, [&](SQLite::Statement& row) {
        media_channel_s channel;
        channel.id = row.getColumn(0).getString();
        ReadChannel(row, channel);
        channels.emplace(channel.id, channel);
        return true;
    });
}

bool ChannelTable::Exists(const std::string& id) {
    bool found = false;
    const bool ran = RunQuery(connection_.lock(), SelectById(id), [&](SQLite::Statement&) {
        found = true;
        return false;
    });
    return ran && found;
}

bool ChannelTable::Select(media_channel_s& channel) {
    bool found = false;
    const bool ran =
        RunQuery(connection_.lock(), SelectById(channel.id), [&](SQLite::Statement& row) {
            ReadChannel(row, channel);
            found = true;
            return false;
        });
    return ran && found;
}

bool ChannelTable::Insert(const media_channel_s& channel) {
    std::ostringstream sql;
    sql << "INSERT INTO [T_CHANNEL] VALUES('" << SqlEscape(channel.id) << "','"
        << SqlEscape(channel.scheduleId) << "','" << SqlEscape(channel.disk) << "',"
        << channel.retentionTime << "," << channel.protocol << ",";
    for (const uint32_t time :
         {channel.motion.preRecTime, channel.motion.postRecTime, channel.alarm.preRecTime,
          channel.alarm.postRecTime, channel.videoLoss.preRecTime, channel.iv.preRecTime,
          channel.iv.postRecTime, channel.audio.preRecTime, channel.audio.postRecTime}) {
        sql << time << ",";
    }
    sql << Switch(channel.audioRecord) << "," << Switch(channel.arb) << ","
        << Switch(channel.continuousOnlyForLow) << "," << Switch(channel.encrypt) << ","
        << Switch(channel.failoverStatus) << ")";
    int64_t rowId = 0;
    return RunInsert(connection_.lock(), sql.str(), modified_.get(), rowId);
}

bool ChannelTable::Update(const media_channel_s& channel) {
    std::ostringstream sql;
    sql << "UPDATE [T_CHANNEL] SET SCHEDULEID = '" << SqlEscape(channel.scheduleId) << "', DISK = '"
        << SqlEscape(channel.disk) << "', RETENTIONTIME = " << channel.retentionTime
        << ", PROTOCOL = " << channel.protocol
        << ", MOTION_PRE_RECTIME = " << channel.motion.preRecTime
        << ", MOTION_POST_RECTIME = " << channel.motion.postRecTime
        << ", ALARM_PRE_RECTIME = " << channel.alarm.preRecTime
        << ", ALARM_POST_RECTIME = " << channel.alarm.postRecTime
        << ", VLOSS_PRE_RECTIME = " << channel.videoLoss.preRecTime
        << ", IV_PRE_RECTIME = " << channel.iv.preRecTime
        << ", IV_POST_RECTIME = " << channel.iv.postRecTime
        << ", AUDIO_PRE_RECTIME = " << channel.audio.preRecTime
        << ", AUDIO_POST_RECTIME = " << channel.audio.postRecTime
        << ", AUDIO_RECORD = " << Switch(channel.audioRecord) << ", ARB = " << Switch(channel.arb)
        << ", CONTINUOUS_ONLY_FOR_LOW = " << Switch(channel.continuousOnlyForLow)
        << ", ENCRYPT = " << Switch(channel.encrypt)
        << ", FAILOVERSTATUS = " << Switch(channel.failoverStatus) << " WHERE ID = '"
        << SqlEscape(channel.id) << "'";
    return RunWrite(connection_.lock(), sql.str(), modified_.get());
}

bool ChannelTable::UpdateDisk(const std::string& id, const std::string& disk) {
    std::ostringstream sql;
    sql << "UPDATE [T_CHANNEL] SET DISK = '" << SqlEscape(disk) << "' WHERE ID = '" << SqlEscape(id)
        << "'";
    return RunWrite(connection_.lock(), sql.str(), modified_.get());
}

bool ChannelTable::UpdateScheduleId(const std::string& id, const std::string& scheduleId) {
    std::ostringstream sql;
    sql << "UPDATE [T_CHANNEL] SET SCHEDULEID = '" << SqlEscape(scheduleId) << "' WHERE ID = '"
        << SqlEscape(id) << "'";
    return RunWrite(connection_.lock(), sql.str(), modified_.get());
}

bool ChannelTable::Delete(const std::string& id) {
    std::ostringstream sql;
    sql << "DELETE FROM [T_CHANNEL] WHERE ID = '" << SqlEscape(id) << "'";
    return RunWrite(connection_.lock(), sql.str(), modified_.get());
}

}  // namespace orvale::recorder
