<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru_RU" sourcelanguage="en_US">
<context>
    <name>CRunSummary</name>
    <message>
        <source>1 site</source>
        <translation>1 сайт</translation>
    </message>
    <message>
        <source>%1 sites</source>
        <translation>сайтов: %1</translation>
    </message>
    <message>
        <source>no new news items</source>
        <translation>новых новостей нет</translation>
    </message>
    <message>
        <source>1 new news item</source>
        <translation>1 новая новость</translation>
    </message>
    <message>
        <source>%1 new news items</source>
        <translation>новых новостей: %1</translation>
    </message>
    <message>
        <source>Download completed: %1 from %2.</source>
        <translation>Загрузка завершена: %1 (%2).</translation>
    </message>
    <message>
        <source>Download completed: %1 (%2 visited).</source>
        <translation>Загрузка завершена: %1 (просмотрено: %2).</translation>
    </message>
    <message>
        <source>Download completed: %1.</source>
        <translation>Загрузка завершена: %1.</translation>
    </message>
    <message>
        <source>1 failure; see the event log.</source>
        <translation>1 ошибка; подробности в журнале событий.</translation>
    </message>
    <message>
        <source>%1 failures; see the event log.</source>
        <translation>Ошибок: %1; подробности в журнале событий.</translation>
    </message>
    <message>
        <source>Download interrupted: the gathering engine ended before the download was complete; %1 from %2 were stored before.</source>
        <translation>Загрузка прервана: сборщик новостей завершился до конца загрузки; до этого сохранено: %1 с %2.</translation>
    </message>
    <message>
        <source>Download interrupted: the gathering engine ended before the download was complete; no new news items were stored.</source>
        <translation>Загрузка прервана: сборщик новостей завершился до конца загрузки; новых новостей не сохранено.</translation>
    </message>
</context>
<context>
    <name>FindDialog</name>
    <message>
        <source>Find</source>
        <translation>Поиск</translation>
    </message>
    <message>
        <source>Match &amp;case</source>
        <translation>&amp;С учётом регистра</translation>
    </message>
    <message>
        <source>Match &amp;whole word only</source>
        <translation>Только &amp;слово целиком</translation>
    </message>
    <message>
        <source>Search &amp;up</source>
        <translation>Искать &amp;вверх</translation>
    </message>
    <message>
        <source>&amp;Find Next</source>
        <translation>Найти &amp;далее</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Закрыть</translation>
    </message>
    <message>
        <source>Fi&amp;nd what:</source>
        <translation>&amp;Что искать:</translation>
    </message>
    <message>
        <source>Cannot find &quot;%1&quot;.</source>
        <translation>Не удаётся найти «%1».</translation>
    </message>
</context>
<context>
    <name>Newsdesk</name>
    <message>
        <source>Opening the news...</source>
        <translation>Открываются новости...</translation>
    </message>
    <message>
        <source>Can not open DB</source>
        <translation>Не удаётся открыть базу данных</translation>
    </message>
    <message>
        <source>The news database named by PathDB in %1 could not be opened. Set PathDB to an existing database (&quot;orvo init&quot; creates one) and start Newsdesk again.</source>
        <translation>Не удалось открыть базу новостей, заданную ключом PathDB в %1. Укажите в PathDB существующую базу (её создаёт «orvo init») и снова запустите Newsdesk.</translation>
    </message>
    <message>
        <source>The news database on a PostgreSQL server could not be opened: %1

Start the server, or correct its address in [Database] Url of %2 (ORVO_DATABASE, when set, comes first; &quot;orvo init --database&quot; makes a new database there), then start Newsdesk again.</source>
        <translation>Не удалось открыть базу новостей на сервере PostgreSQL: %1

Запустите сервер или исправьте его адрес в [Database] Url файла %2 (переменная ORVO_DATABASE, если задана, важнее; «orvo init --database» создаёт там новую базу) и снова запустите Newsdesk.</translation>
    </message>
    <message>
        <source>Building the news list index: %1%</source>
        <translation>Построение индекса списка новостей: %1%</translation>
    </message>
    <message>
        <source>Building the search index: %1%</source>
        <translation>Построение поискового индекса: %1%</translation>
    </message>
</context>
<context>
    <name>QFileDialog</name>
    <message>
        <source>Folder</source>
        <translation>Папка</translation>
    </message>
    <message>
        <source>File</source>
        <translation>Файл</translation>
    </message>
    <message>
        <source>%1 File</source>
        <translation>Файл %1</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>Import OPML</source>
        <translation>Импорт OPML</translation>
    </message>
    <message>
        <source>OPML files (*.opml *.xml);;All files (*)</source>
        <translation>Файлы OPML (*.opml *.xml);;Все файлы (*)</translation>
    </message>
    <message>
        <source>The news database is not open.</source>
        <translation>База новостей не открыта.</translation>
    </message>
    <message>
        <source>%1 Nothing was imported.</source>
        <translation>%1 Ничего не импортировано.</translation>
    </message>
    <message>
        <source>%1 feeds were added; %2 that were there already were skipped. Their news come with the next download.</source>
        <translation>Добавлено лент: %1; уже имевшихся пропущено: %2. Их новости придут со следующей загрузкой.</translation>
    </message>
    <message>
        <source>Export OPML</source>
        <translation>Экспорт OPML</translation>
    </message>
    <message>
        <source>OPML files (*.opml)</source>
        <translation>Файлы OPML (*.opml)</translation>
    </message>
    <message>
        <source>Can not write %1: %2</source>
        <translation>Не удаётся записать %1: %2</translation>
    </message>
</context>
<context>
    <name>Sites</name>
    <message>
        <source> (broken since %1)</source>
        <translation> (не работает с %1)</translation>
    </message>
    <message>
        <source>The masks of this pair stopped working: %1. Its news come through automatic extraction until the updates server sends a mended mask.</source>
        <translation>Маски этой пары перестали работать: %1. Её новости извлекаются автоматически, пока сервер обновлений не пришлёт исправленную маску.</translation>
    </message>
</context>
<context>
    <name>orvo::CAddSiteDialog</name>
    <message>
        <source>Add a site or feed</source>
        <translation>Добавление сайта или ленты</translation>
    </message>
    <message>
        <source>Address of a site or of its feed</source>
        <translation>Адрес сайта или его ленты</translation>
    </message>
    <message>
        <source>Address</source>
        <translation>Адрес</translation>
    </message>
    <message>
        <source>&amp;Find</source>
        <translation>&amp;Найти</translation>
    </message>
    <message>
        <source>Feeds the page advertises</source>
        <translation>Ленты, которые предлагает страница</translation>
    </message>
    <message>
        <source>The feed&apos;s title</source>
        <translation>Название ленты</translation>
    </message>
    <message>
        <source>News</source>
        <translation>Новости</translation>
    </message>
    <message>
        <source>&amp;Add</source>
        <translation>&amp;Добавить</translation>
    </message>
    <message>
        <source>&amp;Site:</source>
        <translation>&amp;Сайт:</translation>
    </message>
    <message>
        <source>&amp;Category:</source>
        <translation>&amp;Категория:</translation>
    </message>
    <message>
        <source>Can not run %1. Reinstall ORVO.</source>
        <translation>Не удаётся запустить %1. Переустановите ORVO.</translation>
    </message>
    <message>
        <source>Looking at %1 ...</source>
        <translation>Просмотр %1 ...</translation>
    </message>
    <message>
        <source>Nothing was added. %1</source>
        <translation>Ничего не добавлено. %1</translation>
    </message>
</context>
<context>
    <name>orvo::CFilterEditor</name>
    <message>
        <source>Edit Filter</source>
        <translation>Изменение фильтра</translation>
    </message>
    <message>
        <source>All words</source>
        <translation>Все слова</translation>
    </message>
    <message>
        <source>Any word</source>
        <translation>Любое слово</translation>
    </message>
    <message>
        <source>Exact phrase</source>
        <translation>Точная фраза</translation>
    </message>
    <message>
        <source>Including</source>
        <translation>Включая</translation>
    </message>
    <message>
        <source>Excluding</source>
        <translation>Исключая</translation>
    </message>
    <message>
        <source>None</source>
        <translation>Нет</translation>
    </message>
    <message>
        <source>Search news:</source>
        <translation>Искать новости:</translation>
    </message>
    <message>
        <source>Search period:</source>
        <translation>Период поиска:</translation>
    </message>
    <message>
        <source>All</source>
        <translation>Все</translation>
    </message>
    <message>
        <source>Use filter in .lit files generation</source>
        <translation>Использовать фильтр при создании файлов .lit</translation>
    </message>
    <message>
        <source>&amp;Find now</source>
        <translation>&amp;Найти</translation>
    </message>
    <message>
        <source>Save Filter</source>
        <translation>Сохранить фильтр</translation>
    </message>
    <message>
        <source>&amp;OK</source>
        <translation>&amp;ОК</translation>
    </message>
    <message>
        <source>&amp;Close</source>
        <translation>&amp;Закрыть</translation>
    </message>
    <message>
        <source>Filter name:</source>
        <translation>Имя фильтра:</translation>
    </message>
    <message>
        <source>Search for:</source>
        <translation>Искать:</translation>
    </message>
    <message>
        <source>Search using</source>
        <translation>Способ поиска</translation>
    </message>
    <message>
        <source>Time restrictions:</source>
        <translation>Ограничения по времени:</translation>
    </message>
    <message>
        <source>from:</source>
        <translation>с:</translation>
    </message>
    <message>
        <source>to:</source>
        <translation>по:</translation>
    </message>
    <message>
        <source>days</source>
        <translation>дн.</translation>
    </message>
    <message>
        <source>hours</source>
        <translation>ч</translation>
    </message>
    <message>
        <source>min</source>
        <translation>мин</translation>
    </message>
    <message>
        <source>Search sites:</source>
        <translation>Искать на сайтах:</translation>
    </message>
    <message>
        <source>Search categories:</source>
        <translation>Искать в категориях:</translation>
    </message>
    <message>
        <source>ERROR</source>
        <translation>ОШИБКА</translation>
    </message>
    <message>
        <source>DB error</source>
        <translation>Ошибка базы данных</translation>
    </message>
    <message>
        <source>The news database is busy or cannot be written (code %1). Close other programs that write to it, or wait for the download to end, and try again.</source>
        <translation>База новостей занята или недоступна для записи (код %1). Закройте другие программы, которые в неё пишут, или дождитесь конца загрузки и повторите попытку.</translation>
    </message>
    <message>
        <source>The filter could not be saved (database code %1). Nothing of this change was stored; check that the news database can be written and try again.</source>
        <translation>Не удалось сохранить фильтр (код базы данных %1). Ничего из этого изменения не записано; проверьте, что в базу новостей можно писать, и повторите попытку.</translation>
    </message>
    <message>
        <source>Enter name</source>
        <translation>Введите имя</translation>
    </message>
    <message>
        <source>Search sites</source>
        <translation>Искать на сайтах</translation>
    </message>
    <message>
        <source>Search categories</source>
        <translation>Искать в категориях</translation>
    </message>
</context>
<context>
    <name>orvo::CFiltersDialog</name>
    <message>
        <source>Filters</source>
        <translation>Фильтры</translation>
    </message>
    <message>
        <source>Apply filter</source>
        <translation>Применить фильтр</translation>
    </message>
    <message>
        <source>New</source>
        <translation>Создать</translation>
    </message>
    <message>
        <source>Edit</source>
        <translation>Изменить</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>Удалить</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>ОК</translation>
    </message>
    <message>
        <source>Filter list:</source>
        <translation>Список фильтров:</translation>
    </message>
    <message>
        <source>Keywords: </source>
        <translation>Ключевые слова: </translation>
    </message>
    <message>
        <source>Search mode: </source>
        <translation>Режим поиска: </translation>
    </message>
    <message>
        <source>Excluding</source>
        <translation>Исключая</translation>
    </message>
    <message>
        <source>Including</source>
        <translation>Включая</translation>
    </message>
    <message>
        <source>Used in .lit generation:</source>
        <translation>Используется при создании .lit:</translation>
    </message>
    <message>
        <source>Yes</source>
        <translation>Да</translation>
    </message>
    <message>
        <source>No</source>
        <translation>Нет</translation>
    </message>
    <message>
        <source>Sites and categories:</source>
        <translation>Сайты и категории:</translation>
    </message>
    <message>
        <source>Time restrictions: </source>
        <translation>Ограничения по времени: </translation>
    </message>
    <message>
        <source>from %1 to %2</source>
        <translation>с %1 по %2</translation>
    </message>
    <message>
        <source>%1 days %2 hours %3 minutes</source>
        <translation>%1 дн. %2 ч %3 мин</translation>
    </message>
    <message>
        <source>None</source>
        <translation>Нет</translation>
    </message>
    <message>
        <source>Delete filter?</source>
        <translation>Удалить фильтр?</translation>
    </message>
    <message>
        <source>The filter could not be deleted. Check that the news database can be written and try again.</source>
        <translation>Не удалось удалить фильтр. Проверьте, что в базу новостей можно писать, и повторите попытку.</translation>
    </message>
    <message>
        <source>Search using: all words</source>
        <translation>Способ поиска: все слова</translation>
    </message>
    <message>
        <source>Search using: any word</source>
        <translation>Способ поиска: любое слово</translation>
    </message>
    <message>
        <source>Search using: exact phrase</source>
        <translation>Способ поиска: точная фраза</translation>
    </message>
    <message>
        <source>Filter list</source>
        <translation>Список фильтров</translation>
    </message>
    <message>
        <source>Filter description</source>
        <translation>Описание фильтра</translation>
    </message>
</context>
<context>
    <name>orvo::CFrameControls</name>
    <message>
        <source>Timekeeper, the scheduling service, has ended, and the run it was doing with it. The next command starts it again.</source>
        <translation>Служба расписания Timekeeper завершилась, а вместе с ней и выполнявшийся запуск. Следующая команда запустит её снова.</translation>
    </message>
    <message>
        <source>Timekeeper, the scheduling service, has ended. The next command starts it again.</source>
        <translation>Служба расписания Timekeeper завершилась. Следующая команда запустит её снова.</translation>
    </message>
    <message>
        <source>Can not open reciver: Timekeeper could not be reached (%1).</source>
        <translation>Не удаётся подключиться к получателю: служба Timekeeper недоступна (%1).</translation>
    </message>
    <message>
        <source>Can not open reciver</source>
        <translation>Не удаётся подключиться к получателю</translation>
    </message>
    <message>
        <source>The scheduling service Timekeeper could not be reached (%1). Register it with

    Timekeeper -RegServer

or start it, then try again.</source>
        <translation>Служба расписания Timekeeper недоступна (%1). Зарегистрируйте её командой

    Timekeeper -RegServer

или запустите её, затем повторите попытку.</translation>
    </message>
    <message>
        <source>The news of this download would not come into this reader</source>
        <translation>Новости этой загрузки не попадут в эту читалку</translation>
    </message>
    <message>
        <source>The Gatherer registered with the session bus stores the news in %1, and this reader shows %2. The bus starts it with the ORVO_DATABASE of the shell that registered it, or else with ORVO.ini&apos;s. Register it again from a shell with this reader&apos;s database:

    Gatherer -RegServer

Download anyway?</source>
        <translation>Gatherer, зарегистрированный на сеансовой шине, сохраняет новости в %1, а эта читалка показывает %2. Шина запускает его с ORVO_DATABASE оболочки, из которой его зарегистрировали, а без неё — с базой из ORVO.ini. Зарегистрируйте его заново из оболочки с базой этой читалки:

    Gatherer -RegServer

Всё равно загрузить?</translation>
    </message>
    <message>
        <source>(no database)</source>
        <translation>(нет базы)</translation>
    </message>
    <message>
        <source>&amp;Download anyway</source>
        <translation>&amp;Всё равно загрузить</translation>
    </message>
    <message>
        <source>Parser already started</source>
        <translation>Загрузка уже запущена</translation>
    </message>
    <message>
        <source>ATTENTION!
No sites and categories are selected for download.
Press &apos;OK&apos; and select sources of your choice.
</source>
        <translation>ВНИМАНИЕ!
Для загрузки не выбраны сайты и категории.
Нажмите «ОК» и выберите нужные источники.
</translation>
    </message>
    <message>
        <source>1 new news item</source>
        <translation>1 новая новость</translation>
    </message>
    <message>
        <source>eBooks are ready</source>
        <translation>Электронные книги готовы</translation>
    </message>
    <message>
        <source>The news of your filters have been written as eBooks.</source>
        <translation>Новости ваших фильтров записаны в электронные книги.</translation>
    </message>
    <message>
        <source>Download interrupted</source>
        <translation>Загрузка прервана</translation>
    </message>
    <message numerus="yes">
        <source>%n new news items</source>
        <translation>
            <numerusform>%n новая новость</numerusform>
            <numerusform>%n новые новости</numerusform>
            <numerusform>%n новых новостей</numerusform>
        </translation>
    </message>
    <message>
        <source>Lit generation Failed: %1</source>
        <translation>Создание электронных книг не удалось: %1</translation>
    </message>
</context>
<context>
    <name>orvo::CMainFrame</name>
    <message>
        <source>ORVO Newsdesk</source>
        <translation>ORVO Newsdesk</translation>
    </message>
    <message>
        <source>Applying the current filter...</source>
        <translation>Применяется текущий фильтр...</translation>
    </message>
    <message>
        <source>Filter has been applied.</source>
        <translation>Фильтр применён.</translation>
    </message>
    <message>
        <source>&amp;Copy</source>
        <translation>&amp;Копировать</translation>
    </message>
    <message>
        <source>Select &amp;All</source>
        <translation>Выделить &amp;всё</translation>
    </message>
    <message>
        <source>Search in &amp;Text...</source>
        <translation>Поиск в &amp;тексте...</translation>
    </message>
    <message>
        <source>Search in text</source>
        <translation>Поиск в тексте</translation>
    </message>
    <message>
        <source>&amp;Print News...</source>
        <translation>&amp;Печать новости...</translation>
    </message>
    <message>
        <source>Print Pre&amp;view...</source>
        <translation>Пред&amp;варительный просмотр...</translation>
    </message>
    <message>
        <source>Save &amp;As...</source>
        <translation>Сохранить &amp;как...</translation>
    </message>
    <message>
        <source>Search</source>
        <translation>Поиск</translation>
    </message>
    <message>
        <source>Search with filter</source>
        <translation>Поиск с фильтром</translation>
    </message>
    <message>
        <source>Clear results</source>
        <translation>Очистить результаты</translation>
    </message>
    <message>
        <source>&amp;Filters</source>
        <translation>&amp;Фильтры</translation>
    </message>
    <message>
        <source>&amp;Generate .lit file</source>
        <translation>&amp;Создать файл .lit</translation>
    </message>
    <message>
        <source>&amp;Download news</source>
        <translation>&amp;Загрузить новости</translation>
    </message>
    <message>
        <source>&amp;Options</source>
        <translation>&amp;Настройки</translation>
    </message>
    <message>
        <source>&amp;Contents</source>
        <translation>&amp;Содержание</translation>
    </message>
    <message>
        <source>Ti&amp;p of the day...</source>
        <translation>&amp;Совет дня...</translation>
    </message>
    <message>
        <source>&amp;About ORVO</source>
        <translation>&amp;О программе ORVO</translation>
    </message>
    <message>
        <source>E&amp;xit</source>
        <translation>В&amp;ыход</translation>
    </message>
    <message>
        <source>Show</source>
        <translation>Показать</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>Выход</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Файл</translation>
    </message>
    <message>
        <source>&amp;Edit</source>
        <translation>&amp;Правка</translation>
    </message>
    <message>
        <source>&amp;News</source>
        <translation>&amp;Новости</translation>
    </message>
    <message>
        <source>&amp;Search</source>
        <translation>П&amp;оиск</translation>
    </message>
    <message>
        <source>&amp;View</source>
        <translation>&amp;Вид</translation>
    </message>
    <message>
        <source>&amp;Tools</source>
        <translation>&amp;Сервис</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>&amp;Справка</translation>
    </message>
    <message>
        <source>Toolbar</source>
        <translation>Панель инструментов</translation>
    </message>
    <message>
        <source>Filters:</source>
        <translation>Фильтры:</translation>
    </message>
    <message>
        <source>Keywords:</source>
        <translation>Ключевые слова:</translation>
    </message>
    <message>
        <source>Filters</source>
        <translation>Фильтры</translation>
    </message>
    <message>
        <source>Keywords</source>
        <translation>Ключевые слова</translation>
    </message>
    <message>
        <source>Stop download</source>
        <translation>Остановить загрузку</translation>
    </message>
    <message>
        <source>Disable %1</source>
        <translation>Выключить %1</translation>
    </message>
    <message>
        <source>Enable %1</source>
        <translation>Включить %1</translation>
    </message>
    <message>
        <source>Show all</source>
        <translation>Показать все</translation>
    </message>
    <message>
        <source>Show only unread</source>
        <translation>Показать только непрочитанные</translation>
    </message>
    <message>
        <source>w/o filter</source>
        <translation>без фильтра</translation>
    </message>
    <message>
        <source>not open</source>
        <translation>не открыта</translation>
    </message>
    <message>
        <source>About ORVO</source>
        <translation>О программе ORVO</translation>
    </message>
    <message>
        <source>&lt;b&gt;ORVO Newsdesk %1&lt;/b&gt;&lt;br&gt;The reader of the ORVO news collector.</source>
        <translation>&lt;b&gt;ORVO Newsdesk %1&lt;/b&gt;&lt;br&gt;Программа для чтения новостей, собранных ORVO.</translation>
    </message>
    <message>
        <source>News database: %1&lt;br&gt;Settings: %2&lt;br&gt;Built with Qt %3, running on Qt %4.</source>
        <translation>База новостей: %1&lt;br&gt;Настройки: %2&lt;br&gt;Собрано с Qt %3, работает на Qt %4.</translation>
    </message>
    <message>
        <source>ORVO Help</source>
        <translation>Справка ORVO</translation>
    </message>
    <message>
        <source>ORVO is checking for updates and is downloading the news</source>
        <translation>ORVO проверяет обновления и загружает новости</translation>
    </message>
    <message>
        <source>&quot;Search in found&quot;</source>
        <translation>«Поиск в найденном»</translation>
    </message>
    <message>
        <source>No more unread news below.</source>
        <translation>Ниже непрочитанных новостей нет.</translation>
    </message>
    <message>
        <source>No more unread news above.</source>
        <translation>Выше непрочитанных новостей нет.</translation>
    </message>
    <message>
        <source>&amp;Keyboard Shortcuts...</source>
        <translation>&amp;Сочетания клавиш...</translation>
    </message>
    <message>
        <source>Sites</source>
        <translation>Сайты</translation>
    </message>
    <message>
        <source>&amp;Sites and Categories</source>
        <translation>&amp;Сайты и категории</translation>
    </message>
    <message>
        <source>%1 news listed so far</source>
        <translation>Пока в списке новостей: %1</translation>
    </message>
    <message>
        <source>Nothing found</source>
        <translation>Ничего не найдено</translation>
    </message>
    <message>
        <source>1 news item</source>
        <translation>1 новость</translation>
    </message>
    <message>
        <source>%1 news items</source>
        <translation>Новостей: %1</translation>
    </message>
    <message>
        <source>Select all rows (in the news list)</source>
        <translation>Выделить все строки (в списке новостей)</translation>
    </message>
    <message>
        <source>Open the selected news item in the browser (in the news list)</source>
        <translation>Открыть выбранную новость в браузере (в списке новостей)</translation>
    </message>
    <message>
        <source>Double-click</source>
        <translation>Двойной щелчок</translation>
    </message>
    <message>
        <source>Apply the chosen filter (in the Filters box)</source>
        <translation>Применить выбранный фильтр (в поле «Фильтры»)</translation>
    </message>
    <message>
        <source>Enter</source>
        <translation>Enter</translation>
    </message>
    <message>
        <source>Search for the keywords (in the Keywords box)</source>
        <translation>Искать ключевые слова (в поле «Ключевые слова»)</translation>
    </message>
    <message>
        <source>Keyboard Shortcuts</source>
        <translation>Сочетания клавиш</translation>
    </message>
    <message>
        <source>Keyboard shortcuts</source>
        <translation>Сочетания клавиш</translation>
    </message>
    <message>
        <source>Command</source>
        <translation>Команда</translation>
    </message>
    <message>
        <source>Keys</source>
        <translation>Клавиши</translation>
    </message>
    <message>
        <source>Add a &amp;site or feed...</source>
        <translation>Добавить &amp;сайт или ленту...</translation>
    </message>
    <message>
        <source>&amp;Import OPML...</source>
        <translation>&amp;Импорт OPML...</translation>
    </message>
    <message>
        <source>&amp;Export OPML...</source>
        <translation>&amp;Экспорт OPML...</translation>
    </message>
    <message>
        <source>The site was added; its news come with the next download.</source>
        <translation>Сайт добавлен; его новости придут со следующей загрузкой.</translation>
    </message>
    <message>
        <source>Nothing found for &quot;%1&quot;.</source>
        <translation>По запросу «%1» ничего не найдено.</translation>
    </message>
    <message>
        <source>1 news item found for &quot;%1&quot;.</source>
        <translation>По запросу «%1» найдена 1 новость.</translation>
    </message>
    <message>
        <source>%1 news items found for &quot;%2&quot;.</source>
        <translation>По запросу «%2» найдено новостей: %1.</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>В&amp;ыход из программы</translation>
    </message>
    <message>
        <source>Ne&amp;xt Pane</source>
        <translation>С&amp;ледующая панель</translation>
    </message>
    <message>
        <source>Pre&amp;vious Pane</source>
        <translation>П&amp;редыдущая панель</translation>
    </message>
    <message>
        <source>&amp;Text Size</source>
        <translation>&amp;Размер текста</translation>
    </message>
    <message>
        <source>%1 unread - %2</source>
        <translation>Непрочитанных: %1 - %2</translation>
    </message>
    <message>
        <source>ORVO keeps running</source>
        <translation>ORVO продолжает работать</translation>
    </message>
    <message>
        <source>ORVO keeps running in the notification area; Quit from its menu</source>
        <translation>ORVO продолжает работать в области уведомлений; выход — из её меню</translation>
    </message>
    <message>
        <source>Not stored: the news database %1 was deleted or replaced while the reader was running. Reopen it to go on.</source>
        <translation>Не сохранено: база новостей %1 была удалена или заменена во время работы программы. Откройте её заново, чтобы продолжить.</translation>
    </message>
    <message>
        <source>News database</source>
        <translation>База новостей</translation>
    </message>
    <message>
        <source>The news database %1 was deleted or replaced by another program while the reader was running.</source>
        <translation>База новостей %1 была удалена или заменена другой программой во время работы читалки.</translation>
    </message>
    <message>
        <source>The last marks or deletions were not stored. </source>
        <translation>Последние отметки или удаления не сохранены. </translation>
    </message>
    <message>
        <source>Until the database is opened again, nothing you mark or delete is stored. Reopen it now?</source>
        <translation>Пока база не открыта заново, отметки и удаления не сохраняются. Открыть её сейчас?</translation>
    </message>
    <message>
        <source>&amp;Reopen</source>
        <translation>&amp;Открыть заново</translation>
    </message>
    <message>
        <source>&amp;Later</source>
        <translation>&amp;Позже</translation>
    </message>
    <message>
        <source>Can not open DB</source>
        <translation>Не удаётся открыть базу данных</translation>
    </message>
    <message>
        <source>Not stored: the connection to the news database on %1 was lost. Reopen it to go on.</source>
        <translation>Не сохранено: связь с базой новостей на %1 потеряна. Откройте её заново, чтобы продолжить.</translation>
    </message>
    <message>
        <source>The connection to the news database on %1 was lost while the reader was running.</source>
        <translation>Связь с базой новостей на %1 потеряна во время работы читалки.</translation>
    </message>
    <message>
        <source>Start the server if it has stopped. Until the database is opened again, nothing you mark or delete is stored. Reopen it now?</source>
        <translation>Запустите сервер, если он остановлен. Пока база не открыта заново, отметки и удаления не сохраняются. Открыть её сейчас?</translation>
    </message>
    <message>
        <source>The news database on %1 cannot be reached (%2). Start the server, or correct its address in [Database] Url of %3; coming back to this window tries again.</source>
        <translation>База новостей на %1 недоступна (%2). Запустите сервер или исправьте его адрес в [Database] Url файла %3; при возврате в это окно попытка повторится.</translation>
    </message>
    <message>
        <source>The news database %1 cannot be opened. Make one with orvo init, or choose another in Tools -&gt; Options -&gt; System, then restart the reader.</source>
        <translation>Не удаётся открыть базу новостей %1. Создайте её командой orvo init или выберите другую в меню Сервис -&gt; Параметры -&gt; Система, затем перезапустите программу.</translation>
    </message>
    <message>
        <source>The news database was opened again.</source>
        <translation>База новостей открыта заново.</translation>
    </message>
    <message>
        <source>%1 / %2</source>
        <translation>%1 / %2</translation>
    </message>
    <message>
        <source>%1: looking for news</source>
        <translation>%1: поиск новостей</translation>
    </message>
    <message>
        <source>%1: %2 of %3</source>
        <translation>%1: %2 из %3</translation>
    </message>
</context>
<context>
    <name>orvo::CNewsDetailView</name>
    <message>
        <source>News text</source>
        <translation>Текст новости</translation>
    </message>
    <message>
        <source>Print News</source>
        <translation>Печать новости</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is the news database: print into another file.</source>
        <translation>«%1» — это база новостей: выберите для печати другой файл.</translation>
    </message>
    <message>
        <source>news</source>
        <translation>новость</translation>
    </message>
    <message>
        <source>Save As</source>
        <translation>Сохранить как</translation>
    </message>
    <message>
        <source>Web page (*.html *.htm);;Text (*.txt)</source>
        <translation>Веб-страница (*.html *.htm);;Текст (*.txt)</translation>
    </message>
    <message>
        <source>Could not save &quot;%1&quot;: %2
Choose another folder or file name.</source>
        <translation>Не удалось сохранить «%1»: %2
Выберите другую папку или другое имя файла.</translation>
    </message>
    <message>
        <source>this is the news database itself</source>
        <translation>это сама база новостей</translation>
    </message>
    <message>
        <source>Smallest</source>
        <translation>Самый мелкий</translation>
    </message>
    <message>
        <source>Smaller</source>
        <translation>Мелкий</translation>
    </message>
    <message>
        <source>Medium</source>
        <translation>Средний</translation>
    </message>
    <message>
        <source>Larger</source>
        <translation>Крупный</translation>
    </message>
    <message>
        <source>Largest</source>
        <translation>Самый крупный</translation>
    </message>
</context>
<context>
    <name>orvo::CNewsInfoView</name>
    <message>
        <source> (link from the site&apos;s feed)</source>
        <translation> (ссылка из ленты сайта)</translation>
    </message>
    <message>
        <source> (found by automatic extraction)</source>
        <translation> (найдено автоматическим извлечением)</translation>
    </message>
    <message>
        <source>Title:</source>
        <translation>Заголовок:</translation>
    </message>
    <message>
        <source>Author:</source>
        <translation>Автор:</translation>
    </message>
    <message>
        <source>WWW:</source>
        <translation>Адрес:</translation>
    </message>
    <message>
        <source>Site:</source>
        <translation>Сайт:</translation>
    </message>
    <message>
        <source>Category:</source>
        <translation>Категория:</translation>
    </message>
    <message>
        <source>Published:</source>
        <translation>Опубликовано:</translation>
    </message>
</context>
<context>
    <name>orvo::CNewsListView</name>
    <message>
        <source>News list</source>
        <translation>Список новостей</translation>
    </message>
    <message>
        <source>Mark as &amp;Read</source>
        <translation>Отметить как &amp;прочитанное</translation>
    </message>
    <message>
        <source>Mark as &amp;Unread</source>
        <translation>Отметить как &amp;непрочитанное</translation>
    </message>
    <message>
        <source>&amp;Delete</source>
        <translation>&amp;Удалить</translation>
    </message>
    <message>
        <source>Copy &amp;address</source>
        <translation>Копировать &amp;адрес</translation>
    </message>
    <message>
        <source>Are you sure that you want to delete the selected news?</source>
        <translation>Вы действительно хотите удалить выбранные новости?</translation>
    </message>
    <message>
        <source>The news could not be deleted (database error %1). Try again later.</source>
        <translation>Не удалось удалить новости (ошибка базы данных %1). Повторите попытку позже.</translation>
    </message>
    <message>
        <source>&amp;Next Unread</source>
        <translation>&amp;Следующая непрочитанная</translation>
    </message>
    <message>
        <source>&amp;Previous Unread</source>
        <translation>&amp;Предыдущая непрочитанная</translation>
    </message>
    <message>
        <source>Mark A&amp;ll as Read</source>
        <translation>Отметить &amp;все как прочитанные</translation>
    </message>
    <message>
        <source>&amp;Open in Browser</source>
        <translation>&amp;Открыть в браузере</translation>
    </message>
    <message>
        <source>The news could not be marked (database error %1). Try again later.</source>
        <translation>Не удалось отметить новости (ошибка базы данных %1). Повторите попытку позже.</translation>
    </message>
    <message>
        <source>This news item has no address to open.</source>
        <translation>У этой новости нет адреса, который можно открыть.</translation>
    </message>
    <message>
        <source>The address of this news item is not a web page: %1</source>
        <translation>Адрес этой новости — не веб-страница: %1</translation>
    </message>
    <message>
        <source>No web browser could open %1.
Choose a default web browser in the desktop&apos;s settings, or copy the address (News, Copy address) into one.</source>
        <translation>Ни один веб-браузер не смог открыть %1.
Выберите браузер по умолчанию в настройках рабочего стола или скопируйте адрес (Новости, Копировать адрес) в браузер.</translation>
    </message>
</context>
<context>
    <name>orvo::COptionsCleanupPage</name>
    <message>
        <source>Delete news older than</source>
        <translation>Удалять новости старше</translation>
    </message>
    <message>
        <source>Delete all .lit files</source>
        <translation>Удалить все файлы .lit</translation>
    </message>
    <message>
        <source>Delete outdated news</source>
        <translation>Удаление устаревших новостей</translation>
    </message>
    <message>
        <source>Month:</source>
        <translation>Месяцев:</translation>
    </message>
    <message>
        <source>Days:</source>
        <translation>Дней:</translation>
    </message>
    <message>
        <source>Hours:</source>
        <translation>Часов:</translation>
    </message>
    <message>
        <source>Minutes:</source>
        <translation>Минут:</translation>
    </message>
</context>
<context>
    <name>orvo::COptionsFontsPage</name>
    <message>
        <source>Download images</source>
        <translation>Загружать изображения</translation>
    </message>
    <message>
        <source>.lit (Microsoft Reader)</source>
        <translation>.lit (Microsoft Reader)</translation>
    </message>
    <message>
        <source>.epub</source>
        <translation>.epub</translation>
    </message>
    <message>
        <source>Both .lit and .epub</source>
        <translation>И .lit, и .epub</translation>
    </message>
    <message>
        <source>Apply selected filter after news download</source>
        <translation>Применять выбранный фильтр после загрузки новостей</translation>
    </message>
    <message>
        <source>Always tick off your categories selection in news source updates</source>
        <translation>Всегда отмечать выбранные категории при обновлении источников новостей</translation>
    </message>
    <message>
        <source>Connection timeout (seconds):</source>
        <translation>Тайм-аут соединения (секунды):</translation>
    </message>
    <message>
        <source>Maximum news per one lit file</source>
        <translation>Наибольшее число новостей в одном файле lit</translation>
    </message>
    <message>
        <source>eBook format:</source>
        <translation>Формат электронной книги:</translation>
    </message>
    <message>
        <source>Mark news as read after (seconds):</source>
        <translation>Отмечать новость прочитанной через (секунды):</translation>
    </message>
    <message>
        <source>Miscellaneous settings</source>
        <translation>Прочие настройки</translation>
    </message>
    <message>
        <source>Notify the desktop when a run brings new items</source>
        <translation>Уведомлять рабочий стол о новых материалах</translation>
    </message>
    <message>
        <source>Delivery to the reader&apos;s device</source>
        <translation>Доставка на устройство для чтения</translation>
    </message>
    <message>
        <source>Copy new eBooks to a connected e-reader (Kobo, PocketBook)</source>
        <translation>Копировать новые книги на подключённую электронную книгу (Kobo, PocketBook)</translation>
    </message>
    <message>
        <source>a folder on another drive, if any</source>
        <translation>папка на другом диске, если нужна</translation>
    </message>
    <message>
        <source>Browse...</source>
        <translation>Обзор...</translation>
    </message>
    <message>
        <source>Folder for the eBooks on the device</source>
        <translation>Папка для книг на устройстве</translation>
    </message>
    <message>
        <source>Mail new eBooks to a device address (Send to Kindle)</source>
        <translation>Отправлять новые книги почтой на адрес устройства (Send to Kindle)</translation>
    </message>
    <message>
        <source>kept in the desktop&apos;s Secret Service</source>
        <translation>хранится в Secret Service рабочего стола</translation>
    </message>
    <message>
        <source>Other drive&apos;s folder:</source>
        <translation>Папка на другом диске:</translation>
    </message>
    <message>
        <source>Device address:</source>
        <translation>Адрес устройства:</translation>
    </message>
    <message>
        <source>Sender address:</source>
        <translation>Адрес отправителя:</translation>
    </message>
    <message>
        <source>Mail server:</source>
        <translation>Почтовый сервер:</translation>
    </message>
    <message>
        <source>Login:</source>
        <translation>Имя входа:</translation>
    </message>
    <message>
        <source>Password:</source>
        <translation>Пароль:</translation>
    </message>
    <message>
        <source>Largest mail (MB):</source>
        <translation>Наибольшее письмо (МБ):</translation>
    </message>
    <message>
        <source>Give the mail server and the login with the password.</source>
        <translation>Укажите вместе с паролем почтовый сервер и имя входа.</translation>
    </message>
    <message>
        <source>Mail password</source>
        <translation>Почтовый пароль</translation>
    </message>
    <message>
        <source>The mail password was not kept: %1</source>
        <translation>Почтовый пароль не сохранён: %1</translation>
    </message>
</context>
<context>
    <name>orvo::COptionsPLogPage</name>
    <message>
        <source>Clear log</source>
        <translation>Очистить журнал</translation>
    </message>
    <message>
        <source>News downloader, parser and .lit generator events</source>
        <translation>События загрузчика, разборщика новостей и генератора .lit</translation>
    </message>
    <message>
        <source>Events:</source>
        <translation>События:</translation>
    </message>
</context>
<context>
    <name>orvo::COptionsPropSheet</name>
    <message>
        <source>Options</source>
        <translation>Настройки</translation>
    </message>
    <message>
        <source>Sites/Categories</source>
        <translation>Сайты/категории</translation>
    </message>
    <message>
        <source>Parser Schedule</source>
        <translation>Расписание загрузки</translation>
    </message>
    <message>
        <source>PocketPC files generator schedule</source>
        <translation>Расписание создания файлов для Pocket PC</translation>
    </message>
    <message>
        <source>CleanUp</source>
        <translation>Очистка</translation>
    </message>
    <message>
        <source>Miscellaneous</source>
        <translation>Разное</translation>
    </message>
    <message>
        <source>System</source>
        <translation>Система</translation>
    </message>
    <message>
        <source>ORVO Log</source>
        <translation>Журнал ORVO</translation>
    </message>
</context>
<context>
    <name>orvo::COptionsSitesPage</name>
    <message>
        <source>Choose the sites and the categories whose news you want, then press &quot;Start download&quot;. A category ticked under the categories list is ticked for every site that has it.</source>
        <translation>Выберите сайты и категории, новости которых вам нужны, и нажмите «Начать загрузку». Категория, отмеченная в списке категорий, отмечается у каждого сайта, где она есть.</translation>
    </message>
    <message>
        <source>All</source>
        <translation>Все</translation>
    </message>
    <message>
        <source>Start download</source>
        <translation>Начать загрузку</translation>
    </message>
    <message>
        <source>Sites</source>
        <translation>Сайты</translation>
    </message>
    <message>
        <source>Categories</source>
        <translation>Категории</translation>
    </message>
    <message>
        <source>Sites:</source>
        <translation>Сайты:</translation>
    </message>
    <message>
        <source>Categories:</source>
        <translation>Категории:</translation>
    </message>
    <message>
        <source>Do not download news older than</source>
        <translation>Не загружать новости старше</translation>
    </message>
    <message>
        <source>days</source>
        <translation>дн.</translation>
    </message>
    <message>
        <source>no limit</source>
        <translation>без ограничения</translation>
    </message>
</context>
<context>
    <name>orvo::COptionsSystemPage</name>
    <message>
        <source>Download site template updates</source>
        <translation>Загружать обновления шаблонов сайтов</translation>
    </message>
    <message>
        <source>Use a proxy server for your LAN</source>
        <translation>Использовать прокси-сервер для локальной сети</translation>
    </message>
    <message>
        <source>Browse...</source>
        <translation>Обзор...</translation>
    </message>
    <message>
        <source>News database</source>
        <translation>База новостей</translation>
    </message>
    <message>
        <source>News databases (*.db *.sqlite *.mdb);;All files (*)</source>
        <translation>Базы новостей (*.db *.sqlite *.mdb);;Все файлы (*)</translation>
    </message>
    <message>
        <source>Folder for the eBook files</source>
        <translation>Папка для файлов электронных книг</translation>
    </message>
    <message>
        <source>Path to DB:</source>
        <translation>Путь к базе данных:</translation>
    </message>
    <message>
        <source>Path to Pocket PC folder:</source>
        <translation>Путь к папке Pocket PC:</translation>
    </message>
    <message>
        <source>Updates server URL:</source>
        <translation>Адрес сервера обновлений:</translation>
    </message>
    <message>
        <source>Address:</source>
        <translation>Адрес:</translation>
    </message>
    <message>
        <source>Port:</source>
        <translation>Порт:</translation>
    </message>
    <message>
        <source>System settings</source>
        <translation>Системные настройки</translation>
    </message>
</context>
<context>
    <name>orvo::CRunnerLink</name>
    <message>
        <source>no session bus: %1</source>
        <translation>нет сеансовой шины: %1</translation>
    </message>
</context>
<context>
    <name>orvo::CScheduleEditorPage</name>
    <message>
        <source>New</source>
        <translation>Создать</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>Удалить</translation>
    </message>
    <message>
        <source>Once</source>
        <translation>Однократно</translation>
    </message>
    <message>
        <source>Daily</source>
        <translation>Ежедневно</translation>
    </message>
    <message>
        <source>Weekly</source>
        <translation>Еженедельно</translation>
    </message>
    <message>
        <source>Monthly</source>
        <translation>Ежемесячно</translation>
    </message>
    <message>
        <source>Routinely</source>
        <translation>Регулярно</translation>
    </message>
    <message>
        <source>at</source>
        <translation>в</translation>
    </message>
    <message>
        <source>day</source>
        <translation>числа</translation>
    </message>
    <message>
        <source>Every</source>
        <translation>Каждые</translation>
    </message>
    <message>
        <source>End time:</source>
        <translation>Время окончания:</translation>
    </message>
    <message>
        <source>Schedulers:</source>
        <translation>Расписания:</translation>
    </message>
    <message>
        <source>Schedulers</source>
        <translation>Расписания</translation>
    </message>
    <message>
        <source>Schedule task:</source>
        <translation>Запланировать задачу:</translation>
    </message>
    <message>
        <source>Cannot be read, never starts: %1=%2</source>
        <translation>Не читается, никогда не запускается: %1=%2</translation>
    </message>
    <message>
        <source>Start today, %1 at %2&quot;</source>
        <translation>Запуск сегодня, %1 в %2</translation>
    </message>
    <message>
        <source>Start %1 at %2</source>
        <translation>Запуск %1 в %2</translation>
    </message>
    <message>
        <source>Start every day at %1</source>
        <translation>Запуск каждый день в %1</translation>
    </message>
    <message>
        <source>Start once in a week at %1, every %2</source>
        <translation>Запуск раз в неделю в %1, день недели: %2</translation>
    </message>
    <message>
        <source>Start every %1 day of the month at %2</source>
        <translation>Запуск %1-го числа каждого месяца в %2</translation>
    </message>
    <message>
        <source>Start from %1 till %2 every %3 hh:mm:ss</source>
        <translation>Запуск с %1 до %2 каждые %3 чч:мм:сс</translation>
    </message>
    <message>
        <source>Delete event?</source>
        <translation>Удалить событие?</translation>
    </message>
    <message>
        <source>Monday</source>
        <translation>Понедельник</translation>
    </message>
    <message>
        <source>Tuesday</source>
        <translation>Вторник</translation>
    </message>
    <message>
        <source>Wednesday</source>
        <translation>Среда</translation>
    </message>
    <message>
        <source>Thursday</source>
        <translation>Четверг</translation>
    </message>
    <message>
        <source>Friday</source>
        <translation>Пятница</translation>
    </message>
    <message>
        <source>Saturday</source>
        <translation>Суббота</translation>
    </message>
    <message>
        <source>Sunday</source>
        <translation>Воскресенье</translation>
    </message>
    <message>
        <source>dddd, MMMM dd, yyyy</source>
        <comment>date format of a one-time schedule</comment>
        <translation>dddd, d MMMM yyyy</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>Начало</translation>
    </message>
    <message>
        <source>Day of the week</source>
        <translation>День недели</translation>
    </message>
</context>
<context>
    <name>orvo::CSitesTree</name>
    <message>
        <source>Sites and categories</source>
        <translation>Сайты и категории</translation>
    </message>
    <message>
        <source>%1 (%2)</source>
        <translation>%1 (%2)</translation>
    </message>
    <message>
        <source>All news</source>
        <translation>Все новости</translation>
    </message>
    <message>
        <source>%1 of %2 news unread</source>
        <translation>Не прочитано %1 из %2</translation>
    </message>
    <message>
        <source>Your own site</source>
        <translation>Ваш собственный сайт</translation>
    </message>
    <message>
        <source>Your own site, read from %1; %2 of %3 news unread</source>
        <translation>Ваш собственный сайт, читается из %1; не прочитано %2 из %3</translation>
    </message>
    <message>
        <source>&amp;Rename...</source>
        <translation>&amp;Переименовать...</translation>
    </message>
    <message>
        <source>Re&amp;move...</source>
        <translation>&amp;Удалить...</translation>
    </message>
    <message>
        <source>Rename the category</source>
        <translation>Переименование категории</translation>
    </message>
    <message>
        <source>Rename the site</source>
        <translation>Переименование сайта</translation>
    </message>
    <message>
        <source>New name:</source>
        <translation>Новое имя:</translation>
    </message>
    <message>
        <source>Rename</source>
        <translation>Переименование</translation>
    </message>
    <message>
        <source>Can not rename %1: %2.</source>
        <translation>Не удаётся переименовать %1: %2.</translation>
    </message>
    <message>
        <source>Remove</source>
        <translation>Удаление</translation>
    </message>
    <message>
        <source>Remove your own site %1? It is no longer downloaded. Its news stay until they are deleted, unless you remove them with it.</source>
        <translation>Удалить ваш собственный сайт %1? Он больше не будет загружаться. Его новости останутся, пока их не удалят, если только вы не удалите их вместе с ним.</translation>
    </message>
    <message>
        <source>&amp;Remove</source>
        <translation>&amp;Удалить</translation>
    </message>
    <message>
        <source>Remove with its &amp;news</source>
        <translation>Удалить вместе с &amp;новостями</translation>
    </message>
</context>
<context>
    <name>orvo::CTipDialog</name>
    <message>
        <source>Tip of the Day</source>
        <translation>Совет дня</translation>
    </message>
    <message>
        <source>&lt;b&gt;Did you know...&lt;/b&gt;</source>
        <translation>&lt;b&gt;А вы знаете, что...&lt;/b&gt;</translation>
    </message>
    <message>
        <source>&amp;Show tips at startup</source>
        <translation>&amp;Показывать советы при запуске</translation>
    </message>
    <message>
        <source>&amp;Next Tip</source>
        <translation>&amp;Следующий совет</translation>
    </message>
    <message>
        <source>Double-click the ORVO icon in the notification area to bring the window back. Closing the window only hides it; choose Exit in the icon&apos;s menu to quit.</source>
        <translation>Дважды щёлкните значок ORVO в области уведомлений, чтобы вернуть окно. Закрытие окна лишь скрывает его; чтобы выйти, выберите «Выход» в меню значка.</translation>
    </message>
    <message>
        <source>A news item is marked as read once it has stayed selected for a while. Set the delay under Options, Miscellaneous.</source>
        <translation>Новость отмечается прочитанной, когда она побудет выделенной некоторое время. Задержка задаётся в разделе «Настройки», «Разное».</translation>
    </message>
    <message>
        <source>Right-click a news item to mark it read or unread, delete it, or copy its address.</source>
        <translation>Щёлкните новость правой кнопкой мыши, чтобы отметить её прочитанной или непрочитанной, удалить или скопировать её адрес.</translation>
    </message>
    <message>
        <source>Click a column heading to sort the news by site, category, date or title. Click it again to reverse the order.</source>
        <translation>Щёлкните заголовок столбца, чтобы упорядочить новости по сайту, категории, дате или заголовку. Щёлкните ещё раз, чтобы обратить порядок.</translation>
    </message>
    <message>
        <source>Show only unread hides the news you have already read. Press it again to see them all.</source>
        <translation>«Показать только непрочитанные» скрывает новости, которые вы уже прочитали. Нажмите ещё раз, чтобы увидеть все.</translation>
    </message>
    <message>
        <source>Type words into the Keywords box and press Enter to search the titles and texts of all news.</source>
        <translation>Введите слова в поле «Ключевые слова» и нажмите Enter, чтобы искать в заголовках и текстах всех новостей.</translation>
    </message>
    <message>
        <source>Turn on Search in found to search only within the news that are listed now.</source>
        <translation>Включите «Поиск в найденном», чтобы искать только среди новостей, которые сейчас в списке.</translation>
    </message>
    <message>
        <source>Save your searches as filters and pick them from the Filters list on the toolbar.</source>
        <translation>Сохраняйте свои запросы как фильтры и выбирайте их из списка «Фильтры» на панели инструментов.</translation>
    </message>
    <message>
        <source>A filter can also feed the eBooks for your handheld: tick &quot;Use filter in .lit files generation&quot;.</source>
        <translation>Фильтр может также наполнять электронные книги для вашего карманного устройства: отметьте «Использовать фильтр при создании файлов .lit».</translation>
    </message>
    <message>
        <source>Click the address in the information bar to open the original page in your web browser.</source>
        <translation>Щёлкните адрес в информационной панели, чтобы открыть исходную страницу в веб-браузере.</translation>
    </message>
    <message>
        <source>Use Search in Text (Ctrl+F) to find a word in the news you are reading.</source>
        <translation>Чтобы найти слово в читаемой новости, воспользуйтесь поиском в тексте (Ctrl+F).</translation>
    </message>
    <message>
        <source>Five text sizes are in the View menu and in the text&apos;s right-click menu; ORVO remembers your choice.</source>
        <translation>Пять размеров текста есть в меню «Вид» и в контекстном меню текста; ORVO запоминает ваш выбор.</translation>
    </message>
    <message>
        <source>Print a news item, look at it first with Print Preview, or save it as a web page or as text.</source>
        <translation>Новость можно напечатать, заранее посмотреть в режиме предварительного просмотра или сохранить как веб-страницу или текст.</translation>
    </message>
    <message>
        <source>Deleted news never come back: not in the list, not in a search and not in an eBook.</source>
        <translation>Удалённые новости больше не появляются: ни в списке, ни в поиске, ни в электронной книге.</translation>
    </message>
</context>
<context>
    <name>orvo::CWelcomePane</name>
    <message>
        <source>&lt;h2&gt;Welcome to ORVO&lt;/h2&gt;</source>
        <translation>&lt;h2&gt;Добро пожаловать в ORVO&lt;/h2&gt;</translation>
    </message>
    <message>
        <source>There are no sites yet. Add the sites and feeds you read, bring them from another feed reader, or use an updates server that offers a catalogue of sites.</source>
        <translation>Сайтов пока нет. Добавьте сайты и ленты, которые вы читаете, перенесите их из другой программы чтения лент или подключите сервер обновлений с каталогом сайтов.</translation>
    </message>
    <message>
        <source>Add a site or feed...</source>
        <translation>Добавить сайт или ленту...</translation>
    </message>
    <message>
        <source>Import OPML...</source>
        <translation>Импорт OPML...</translation>
    </message>
    <message>
        <source>Use an updates server...</source>
        <translation>Подключить сервер обновлений...</translation>
    </message>
</context>
<context>
    <name>orvo::EngineTexts</name>
    <message>
        <source>Site: [%1], Category: [%2] &lt;News searching...&gt; URL: [%3]</source>
        <translation>Сайт: [%1], рубрика: [%2] &lt;Поиск новостей...&gt; Адрес: [%3]</translation>
    </message>
    <message>
        <source>Site: [%1], Category: [%2] &lt;News: %3 from %4&gt; URL: [%5]</source>
        <translation>Сайт: [%1], рубрика: [%2] &lt;Новость %3 из %4&gt; Адрес: [%5]</translation>
    </message>
    <message>
        <source>Checking for updates...</source>
        <translation>Проверка обновлений...</translation>
    </message>
    <message>
        <source>Updates for: Site [%1], Category [%2].</source>
        <translation>Обновления для: сайт [%1], рубрика [%2].</translation>
    </message>
    <message>
        <source>Updating news database</source>
        <translation>Обновление базы новостей</translation>
    </message>
    <message>
        <source>Download completed.</source>
        <translation>Загрузка завершена.</translation>
    </message>
    <message>
        <source>News downloading error</source>
        <translation>Ошибка загрузки новостей</translation>
    </message>
    <message>
        <source>Stop download</source>
        <translation>Остановка загрузки</translation>
    </message>
    <message>
        <source>No updates server is set; only your own sites are downloaded.</source>
        <translation>Сервер обновлений не задан; загружаются только ваши собственные сайты.</translation>
    </message>
    <message>
        <source>Site template updates are switched off (DownloadUpdates=0): downloading with the stored catalogue and masks.</source>
        <translation>Обновление шаблонов сайтов отключено (DownloadUpdates=0): загрузка по сохранённому каталогу и маскам.</translation>
    </message>
    <message>
        <source>Can not get updates from %1; downloading with the stored masks.</source>
        <translation>Не удаётся получить обновления с %1; загрузка по сохранённым маскам.</translation>
    </message>
    <message>
        <source>Can not read the page [%1]: %2.</source>
        <translation>Не удаётся прочитать страницу [%1]: %2.</translation>
    </message>
    <message>
        <source>Can not open news database. Please check you settings.</source>
        <translation>Не удаётся открыть базу новостей. Проверьте настройки.</translation>
    </message>
    <message>
        <source>*.lit files generation started</source>
        <translation>Создание файлов *.lit начато</translation>
    </message>
    <message>
        <source>*.lit files generation completed successfully</source>
        <translation>Создание файлов *.lit успешно завершено</translation>
    </message>
    <message>
        <source>Lit generation Failed</source>
        <translation>Создание электронных книг не удалось</translation>
    </message>
    <message>
        <source>Can not store the news item [%1]: %2.</source>
        <translation>Не удаётся сохранить новость [%1]: %2.</translation>
    </message>
</context>
<context>
    <name>orvo::NewsListModel</name>
    <message>
        <source>Site</source>
        <translation>Сайт</translation>
    </message>
    <message>
        <source>Category</source>
        <translation>Категория</translation>
    </message>
    <message>
        <source>Date/Time</source>
        <translation>Дата/время</translation>
    </message>
    <message>
        <source>Title</source>
        <translation>Заголовок</translation>
    </message>
</context>
<context>
    <name>orvo::OptionsPage</name>
    <message>
        <source>The stored value %1 is kept until you change it.</source>
        <translation>Сохранённое значение %1 останется, пока вы его не измените.</translation>
    </message>
</context>
</TS>
