#include "DemoSites.h"

namespace folvane::sim {

namespace {

GroupSeed group(std::string name, std::vector<TemplateSeed> templates,
                std::vector<GroupSeed> subfolders = {}) {
    return {std::move(name), false, Special::None, std::move(templates), std::move(subfolders)};
}

SiteSeed expressionEngineDemo() {
    SiteSeed seed;
    seed.cms = Cms::ExpressionEngine;
    GroupSeed site = group("site", {{"index.html", R"(<!DOCTYPE html>
<html lang="en">
<head>
  <title>{site_name}</title>
  <link rel="stylesheet" href="{path='styles/main.css'}">
</head>
<body>
{header}
<main>
  <h1>Welcome to {site_name}</h1>
  {exp:channel:entries channel="news" limit="3"}
    <article><h2><a href="{url_title_path='news/article'}">{title}</a></h2>{summary}</article>
  {/exp:channel:entries}
</main>
{footer}
<script src="{path='scripts/app.js'}"></script>
</body>
</html>
)"},
                                    {"about.html", R"(<!DOCTYPE html>
<html lang="en">
<head><title>About | {site_name}</title></head>
<body>
{header}
<main>
  <h1>About us</h1>
  <p>We build small, fast web sites. Write to {contact_email}.</p>
</main>
{footer}
</body>
</html>
)"}});
    site.isSpecial = true; // the site's default template group
    seed.groups.push_back(site);
    seed.groups.push_back(group("news", {{"index.html", R"({header}
<h1>News</h1>
<ul>
{exp:channel:entries channel="news" limit="10" paginate="bottom"}
  <li><a href="{url_title_path='news/article'}">{title}</a> <time>{entry_date format="%Y-%m-%d"}</time></li>
{/exp:channel:entries}
</ul>
{footer}
)"},
                                         {"article.html", R"({header}
{exp:channel:entries channel="news" limit="1" require_entry="yes"}
<article>
  <h1>{title}</h1>
  <p class="meta">{entry_date format="%F %j, %Y"} by {author}</p>
  {body}
</article>
{if no_results}{redirect="404"}{/if}
{/exp:channel:entries}
{footer}
)"}}));
    seed.groups.push_back(group("styles", {{"main.css", R"(:root { --accent: #c0392b; }
body { font: 16px/1.5 system-ui, sans-serif; margin: 0 auto; max-width: 48rem; padding: 1rem; }
a { color: var(--accent); }
header, footer { border-bottom: 1px solid #ddd; padding: .5rem 0; }
)"}}));
    seed.groups.push_back(
        group("scripts", {{"app.js", R"(document.addEventListener('DOMContentLoaded', () => {
  const year = document.querySelector('.year');
  if (year) {
    year.textContent = new Date().getFullYear();
  }
});
)"}}));
    GroupSeed snippets = group("snippets", {{"header.html", R"(<header>
  <a href="{homepage}">{site_name}</a>
  <nav><a href="{path='news'}">News</a> <a href="{path='site/about'}">About</a></nav>
</header>
)"},
                                            {"footer.html", R"(<footer>
  <p>&copy; <span class="year"></span> {site_name}</p>
</footer>
)"}});
    snippets.special = Special::Snippets;
    snippets.isSpecial = true;
    seed.groups.push_back(snippets);
    GroupSeed variables =
        group("variables", {{"site_name", "Folvane Demo"}, {"contact_email", "hello@example.com"}});
    variables.special = Special::Variables;
    variables.isSpecial = true;
    seed.groups.push_back(variables);
    return seed;
}

SiteSeed wordPressDemo() {
    SiteSeed seed;
    seed.cms = Cms::WordPress;
    GroupSeed parts = group("template-parts", {{"header.php", R"(<header class="site-header">
  <a href="<?php echo esc_url( home_url( '/' ) ); ?>"><?php bloginfo( 'name' ); ?></a>
  <?php wp_nav_menu( array( 'theme_location' => 'primary' ) ); ?>
</header>
)"},
                                               {"footer.php", R"(<footer class="site-footer">
  <p>&copy; <?php echo esc_html( gmdate( 'Y' ) ); ?> <?php bloginfo( 'name' ); ?></p>
</footer>
)"}});
    seed.groups.push_back(group("theme",
                                {{"index.php", R"(<?php get_header(); ?>
<?php get_template_part( 'template-parts/header' ); ?>
<main>
<?php while ( have_posts() ) : the_post(); ?>
  <article <?php post_class(); ?>>
    <h2><a href="<?php the_permalink(); ?>"><?php the_title(); ?></a></h2>
    <?php the_excerpt(); ?>
  </article>
<?php endwhile; ?>
</main>
<?php get_template_part( 'template-parts/footer' ); ?>
<?php get_footer(); ?>
)"},
                                 {"style.css", R"(/*
Theme Name: Folvane Demo
Version: 1.0
*/
body { font: 16px/1.5 system-ui, sans-serif; margin: 0 auto; max-width: 48rem; }
.site-header, .site-footer { padding: .5rem 0; }
)"},
                                 {"functions.php", R"(<?php
add_action( 'after_setup_theme', function () {
	add_theme_support( 'title-tag' );
	register_nav_menus( array( 'primary' => 'Primary menu' ) );
} );
)"}},
                                {parts}));
    seed.groups.push_back(group("plugins", {{"contact-form.php", R"(<?php
/*
Plugin Name: Demo Contact Form
*/
add_shortcode( 'demo_contact', function () {
	return '<form method="post"><input name="email" type="email"><button>Send</button></form>';
} );
)"}}));
    return seed;
}

} // namespace

SiteSeed demoSite(Cms cms) {
    return cms == Cms::ExpressionEngine ? expressionEngineDemo() : wordPressDemo();
}

} // namespace folvane::sim
