// The menu bar, as a desktop's: a title opens its menu below it, the arrow keys move between
// titles and items, Escape closes, a press elsewhere closes. The program's menus carry its
// captions; the page's own (Copy link, MIDI) keep theirs. Each item runs the command its
// data-command names.
import { ids } from './bridge.js';

const menuTitles = [...document.querySelectorAll('[role="menubar"] > li > [role="menuitem"]')];
// Items as the program names them.
const kProgramItemNames = {
  open: 'menuOpen',
  save: 'menuSave',
  'export-wav': 'menuExportWav',
  'export-midi': 'menuExportMidi',
  type1: 'menuType1',
  type2: 'menuType2',
  about: 'menuAbout',
  help: 'menuHelp',
};
// A menu keeps this far from the screen's right edge, px.
const kMenuMarginPx = 4;

function showProgramCaptions() {
  const captions = new Map(ids.menus.flatMap((menu) => menu.items)
    .map((item) => [item.name, item.caption]));
  for (const item of document.querySelectorAll('[data-command]')) {
    const caption = captions.get(kProgramItemNames[item.dataset.command]);
    if (caption !== undefined) item.textContent = caption;
  }
  const titles = document.querySelectorAll(
    '[role="menubar"] > li > [role="menuitem"]:not([data-page-menu])');
  for (const [index, menu] of ids.menus.entries()) titles[index].textContent = menu.title;
}

function menuOf(title) {
  return document.getElementById(title.getAttribute('aria-controls'));
}
function itemsOf(menu) {
  return [...menu.querySelectorAll('[role^="menuitem"]')];
}
function closeMenus(exceptTitle = null) {
  for (const title of menuTitles) {
    if (title === exceptTitle) continue;
    title.setAttribute('aria-expanded', 'false');
    menuOf(title).hidden = true;
  }
}
// A menu opens below its title and moves left as far as it must to stay on the screen.
function placeMenu(menu) {
  menu.style.left = '';
  const overflowPx = menu.getBoundingClientRect().right - (document.documentElement.clientWidth
    - kMenuMarginPx);
  if (overflowPx > 0) menu.style.left = `${-overflowPx}px`;
}
function openMenu(title, focusItem = 0) {
  closeMenus(title);
  title.setAttribute('aria-expanded', 'true');
  const menu = menuOf(title);
  menu.hidden = false;
  placeMenu(menu);
  itemsOf(menu).at(focusItem)?.focus();
}

function listenToKeys(title, index) {
  const titleAt = (step) => menuTitles[(index + step + menuTitles.length) % menuTitles.length];
  title.addEventListener('keydown', (event) => {
    if (event.key === 'ArrowDown') openMenu(title);
    else if (event.key === 'ArrowUp') openMenu(title, -1);
    else if (event.key === 'ArrowRight') titleAt(1).focus();
    else if (event.key === 'ArrowLeft') titleAt(-1).focus();
    else if (event.key === 'Escape') closeMenus();
    else return;
    event.preventDefault();
  });
  const menu = menuOf(title);
  menu.addEventListener('keydown', (event) => {
    const items = itemsOf(menu);
    const at = items.indexOf(document.activeElement);
    const moveTo = (i) => items[(i + items.length) % items.length].focus();
    if (event.key === 'ArrowDown') moveTo(at + 1);
    else if (event.key === 'ArrowUp') moveTo(at - 1);
    else if (event.key === 'Home') moveTo(0);
    else if (event.key === 'End') moveTo(-1);
    else if (event.key === 'Escape') {
      closeMenus();
      title.focus();
    } else if (event.key === 'ArrowRight' || event.key === 'ArrowLeft') {
      openMenu(titleAt(event.key === 'ArrowRight' ? 1 : -1));
    } else return;
    event.preventDefault();
  });
}

// commands: what each data-command item does.
export function setUpMenus(commands) {
  showProgramCaptions();
  for (const [index, title] of menuTitles.entries()) {
    title.addEventListener('click', () => {
      if (title.getAttribute('aria-expanded') === 'true') closeMenus();
      else openMenu(title);
    });
    listenToKeys(title, index);
  }
  document.addEventListener('pointerdown', (event) => {
    if (!event.target.closest('[role="menubar"]')) closeMenus();
  });
  for (const item of document.querySelectorAll('[data-command]')) {
    item.addEventListener('click', () => {
      closeMenus();
      // Focus goes back to the menu's title, as it does when a desktop menu closes.
      document.getElementById(item.closest('[role="menu"]').getAttribute('aria-labelledby'))
        .focus();
      commands[item.dataset.command]();
    });
  }
}
