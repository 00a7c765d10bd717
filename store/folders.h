// Mailboxes and the folder hierarchy.
#pragma once

#include <string>
#include <string_view>

#include "store/session.h"

namespace store {

// Tree images of the folder classes.
enum FolderImage : int {
    kImageFolder = 0,
    kImageCalendar = 3,
    kImageContacts = 4,
    kImageDeletedItems = 5,
    kImageDrafts = 6,
    kImageInbox = 7,
    kImageJournal = 8,
    kImageJunk = 9,
    kImageNotes = 10,
    kImageOutbox = 11,
    kImageSentItems = 12,
    kImageTasks = 13,
    kImageSyncIssues = 14,
};

// The tree image of a node, from its display name (any case) and its folder class.
int ClassifyFolderImage(std::u16string_view displayName, std::u16string_view folderClass);

// Name of the table that holds a folder's items: "1000000000091c1" gives "1-91C1".
std::u16string FolderTableName(std::u16string_view folderId);

// Appends a node under parent; parent kNoTreeItem makes the tree's root item (image 0).
TreeItem AddFolderToTree(StoreSession& session, std::u16string_view displayName, TreeItem parent,
                         std::u16string_view folderClass);

bool IsHiddenMailbox(std::u16string_view displayName);
bool IsHiddenFolder(std::u16string_view displayName);

// The class kept for a folder: an "IPF."/"IPM." class as it is, anything else "Folder".
std::u16string FolderClass(std::u16string_view storedClass);

}  // namespace store
